#pragma once
// "高级设置": quiet hours, burst balloons, the daily greeting budget, one
// greeting per person, the watch-list and the automatic deletion of old visits. OK stores the row and makes the
// values live at once; a failed store keeps the dialog open and says so.
// Window's thread.
#include "accounts/AdvancedSettings.h"

#include <QDialog>

class QCheckBox;
class QPlainTextEdit;
class QSpinBox;
class QTimeEdit;

class CAdvancedSettingDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAdvancedSettingDlg(QWidget* parent = nullptr);

    void SetValues(const CAdvancedSettings& settings);
    CAdvancedSettings Values() const;

    static inline const QString kSaveFailedText = QStringLiteral("高级设置保存失败!");

public Q_SLOTS:
    void accept() override;

private:
    void UpdateEnabled();

    QCheckBox* m_quietCheck;
    QTimeEdit* m_quietFromEdit;
    QTimeEdit* m_quietToEdit;
    QCheckBox* m_burstCheck;
    QCheckBox* m_budgetCheck;
    QSpinBox* m_budgetSpin;
    QCheckBox* m_onceCheck;
    QSpinBox* m_onceDaysSpin;
    QPlainTextEdit* m_watchListEdit;
    QCheckBox* m_keepCheck;
    QSpinBox* m_keepDaysSpin;
};

// The menu command: the dialog with the live values, run modally over parent.
void OpenAdvancedSettingDialog(QWidget* parent);
