#pragma once
// "团队设置": the shops this machine greets for on the team store, one check
// box per account; other machines greet for the rest. OK stores the list in
// this machine's [machine] row (the greeting thread reads it at each pass); a
// failed store keeps the dialog open and says so. Window's thread.
#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;

class CTeamSettingDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CTeamSettingDlg(QWidget* parent = nullptr);

    // Lists the accounts, the ones in greetShops checked.
    void SetValues(const QString& machine, const QStringList& accounts, const QStringList& greetShops);
    QStringList CheckedShops() const;

    static inline const QString kSaveFailedText = QStringLiteral("团队设置保存失败!");
    static inline const QString kReadFailedText = QStringLiteral("无法读取团队设置,请检查数据库连接!");

public Q_SLOTS:
    void accept() override;

private:
    QString m_machine;
    QLabel* m_machineLabel;
    QListWidget* m_shopList;
};

// The menu command: the dialog with this machine's stored choice, run modally over parent.
void OpenTeamSettingDialog(QWidget* parent);
