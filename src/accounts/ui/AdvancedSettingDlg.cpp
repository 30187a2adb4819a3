#include "accounts/ui/AdvancedSettingDlg.h"

#include "controls/ui/AccessibleText.h"
#include "monitor/AlertPolicy.h"
#include "platform/MessageBox.h"
#include "tables/SettingsTable.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

QTime FromMinutes(int minutes)
{
    return QTime(minutes / 60, minutes % 60);
}

int ToMinutes(const QTime& time)
{
    return time.hour() * 60 + time.minute();
}

} // namespace

CAdvancedSettingDlg::CAdvancedSettingDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_quietCheck(new QCheckBox(QStringLiteral("安静时段(不响铃、不弹出提示)"), this)),
      m_quietFromEdit(new QTimeEdit(this)), m_quietToEdit(new QTimeEdit(this)),
      m_burstCheck(new QCheckBox(
          QStringLiteral("一次刷新有%1位以上新客户时只提示一次").arg(CAlertPolicy::kBurstThreshold), this)),
      m_budgetCheck(new QCheckBox(QStringLiteral("每个店铺每天最多打招呼"), this)), m_budgetSpin(new QSpinBox(this)),
      m_onceCheck(new QCheckBox(QStringLiteral("同一客户在所有店铺中只打一次招呼,间隔天数"), this)),
      m_onceDaysSpin(new QSpinBox(this)), m_watchListEdit(new QPlainTextEdit(this)),
      m_keepCheck(new QCheckBox(QStringLiteral("自动删除"), this)), m_keepDaysSpin(new QSpinBox(this))
{
    setObjectName(QStringLiteral("CAdvancedSettingDlg"));
    setWindowTitle(QStringLiteral("高级设置"));

    m_quietCheck->setObjectName(QStringLiteral("quietHoursCheck"));
    m_quietFromEdit->setObjectName(QStringLiteral("quietFromEdit"));
    m_quietToEdit->setObjectName(QStringLiteral("quietToEdit"));
    for (QTimeEdit* edit : {m_quietFromEdit, m_quietToEdit})
        edit->setDisplayFormat(QStringLiteral("HH:mm"));
    m_burstCheck->setObjectName(QStringLiteral("burstCheck"));
    m_budgetCheck->setObjectName(QStringLiteral("budgetCheck"));
    m_budgetSpin->setObjectName(QStringLiteral("budgetSpin"));
    m_budgetSpin->setRange(0, CAdvancedSettings::kBudgetMax);
    m_budgetSpin->setSuffix(QStringLiteral(" 次"));
    m_onceCheck->setObjectName(QStringLiteral("oncePerPersonCheck"));
    m_onceDaysSpin->setObjectName(QStringLiteral("onceDaysSpin"));
    m_onceDaysSpin->setRange(1, CAdvancedSettings::kDaysMax);
    m_onceDaysSpin->setSuffix(QStringLiteral(" 天"));
    m_watchListEdit->setObjectName(QStringLiteral("watchListEdit"));
    m_watchListEdit->setPlaceholderText(QStringLiteral("每行一个客户名"));
    m_keepCheck->setObjectName(QStringLiteral("keepDaysCheck"));
    m_keepDaysSpin->setObjectName(QStringLiteral("keepDaysSpin"));
    m_keepDaysSpin->setRange(CAdvancedSettings::kKeepDaysMin, CAdvancedSettings::kKeepDaysMax);
    m_keepDaysSpin->setAccessibleName(QStringLiteral("自动删除多少天前的访问记录"));
    auto* keepLabel = new QLabel(QStringLiteral("天前的访问记录"), this);

    auto* quietRow = new QHBoxLayout;
    quietRow->addWidget(m_quietCheck);
    quietRow->addWidget(m_quietFromEdit);
    quietRow->addWidget(new QLabel(QStringLiteral("至"), this));
    quietRow->addWidget(m_quietToEdit);
    quietRow->addStretch(1);
    auto* budgetRow = new QHBoxLayout;
    budgetRow->addWidget(m_budgetCheck);
    budgetRow->addWidget(m_budgetSpin);
    budgetRow->addStretch(1);
    auto* onceRow = new QHBoxLayout;
    onceRow->addWidget(m_onceCheck);
    onceRow->addWidget(m_onceDaysSpin);
    onceRow->addStretch(1);

    auto* keepRow = new QHBoxLayout;
    keepRow->addWidget(m_keepCheck);
    keepRow->addWidget(m_keepDaysSpin);
    keepRow->addWidget(keepLabel);
    keepRow->addStretch(1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CAdvancedSettingDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(quietRow);
    layout->addWidget(m_burstCheck);
    layout->addLayout(budgetRow);
    layout->addLayout(onceRow);
    layout->addWidget(new QLabel(QStringLiteral("关注客户(每行一个,访问时总会提醒,安静时段内也会):"), this));
    layout->addWidget(m_watchListEdit, 1);
    layout->addLayout(keepRow);
    layout->addWidget(buttons);

    for (QCheckBox* check : {m_quietCheck, m_budgetCheck, m_onceCheck, m_keepCheck})
        connect(check, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    SetAccessibleTexts(this, {
                                 {"quietFromEdit", "安静时段开始"},
                                 {"quietToEdit", "安静时段结束"},
                                 {"budgetSpin", "每个店铺每天最多打招呼次数"},
                                 {"onceDaysSpin", "只打一次招呼的间隔天数"},
                                 {"watchListEdit", "关注客户", "每行一个客户名,访问时总会提醒"},
                             });
    SetValues(CAdvancedSettings());
    resize(460, 360);
}

void CAdvancedSettingDlg::SetValues(const CAdvancedSettings& s)
{
    m_quietCheck->setChecked(s.quietHours);
    m_quietFromEdit->setTime(FromMinutes(s.quietFrom));
    m_quietToEdit->setTime(FromMinutes(s.quietTo));
    m_burstCheck->setChecked(s.bursts);
    m_budgetCheck->setChecked(s.dailyBudget);
    m_budgetSpin->setValue(s.budget);
    m_onceCheck->setChecked(s.oncePerPerson);
    m_onceDaysSpin->setValue(s.onceDays);
    m_watchListEdit->setPlainText(s.watchList.join(u'\n'));
    m_keepCheck->setChecked(s.keepDays > 0);
    // Off, the box offers a year.
    m_keepDaysSpin->setValue(s.keepDays > 0 ? s.keepDays : 365);
    UpdateEnabled();
}

CAdvancedSettings CAdvancedSettingDlg::Values() const
{
    CAdvancedSettings s;
    s.quietHours = m_quietCheck->isChecked();
    s.quietFrom = ToMinutes(m_quietFromEdit->time());
    s.quietTo = ToMinutes(m_quietToEdit->time());
    s.bursts = m_burstCheck->isChecked();
    s.dailyBudget = m_budgetCheck->isChecked();
    s.budget = m_budgetSpin->value();
    s.oncePerPerson = m_onceCheck->isChecked();
    s.onceDays = m_onceDaysSpin->value();
    s.watchList = CAdvancedSettings::ParseWatchList(m_watchListEdit->toPlainText());
    s.keepDays = m_keepCheck->isChecked() ? m_keepDaysSpin->value() : 0;
    s.Normalise();
    return s;
}

void CAdvancedSettingDlg::UpdateEnabled()
{
    m_quietFromEdit->setEnabled(m_quietCheck->isChecked());
    m_quietToEdit->setEnabled(m_quietCheck->isChecked());
    m_budgetSpin->setEnabled(m_budgetCheck->isChecked());
    m_onceDaysSpin->setEnabled(m_onceCheck->isChecked());
    m_keepDaysSpin->setEnabled(m_keepCheck->isChecked());
}

void CAdvancedSettingDlg::accept()
{
    const CAdvancedSettings values = Values();
    if (!CSettingsTable().WriteAdvanced(values)) {
        // Nothing changes until it is stored: the owner may try again or cancel.
        ShowMessageBox(kSaveFailedText, AppTitle(), EMsgIcon::Exclamation);
        return;
    }
    PublishAdvancedSettings(values);
    QDialog::accept();
}

// The menu's command: the dialog with the live values.
void OpenAdvancedSettingDialog(QWidget* parent)
{
    CAdvancedSettingDlg dialog(parent);
    dialog.SetValues(CurrentAdvancedSettings());
    dialog.exec();
}
