#pragma once
// The modal dialog "网店代码生成" that shows one account's tracking snippet
// with the instructions for pasting it. Window's thread; nothing is stored.
#include <QDialog>
#include <QString>

class QGroupBox;
class QLineEdit;
class QPlainTextEdit;

class CMakeCodeDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CMakeCodeDlg(QWidget* parent = nullptr);

    // Set by the opener before the dialog is shown.
    QString m_strUserName;
    QString m_strWebId;

    // Fills the fields from the two inputs (done again when shown).
    void InitDialog();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPlainTextEdit* m_headText = nullptr;
    QLineEdit* m_snippetEdit = nullptr;
    QPlainTextEdit* m_methodOneText = nullptr;
    QGroupBox* m_methodTwoGroup = nullptr;
    QLineEdit* m_addressEdit = nullptr;
    QPlainTextEdit* m_methodTwoText = nullptr;
};

// The "生成代码" command: checks the selected account (row, name and web ID
// as listed) and shows the dialog modally.
void OpenMakeCodeDialog(QWidget* parent, int selectionMark, const QString& userName, int webId);
