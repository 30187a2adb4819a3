#include "accounts/ui/ConfigDlg.h"

#include "accounts/AccountFlows.h"
#include "accounts/AccountStates.h"
#include "accounts/Autorun.h"
#include "accounts/LiveSettings.h"
#include "accounts/ui/ConfigPageControls.h"
#include "accounts/ui/UpDownCtrl.h"
#include "greet/Greeting.h"
#include "monitor/MonitorControl.h"
#include "platform/MessageBox.h"
#include "platform/OneShot.h"
#include "platform/Workers.h"
#include "tables/SettingsTable.h"
#include "trackcode/ui/MakeCodeDlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

CConfigDlg* g_pConfigDlg = nullptr;

using namespace ConfigCaption;

namespace {

class CPageHost : public IAccountPage
{
public:
    explicit CPageHost(CConfigDlg* page) : m_page(page) {}

    void StopMonitoring() override
    {
        OnPage([](CConfigDlg* p) { p->StopMonitoring(); });
    }
    void StartMonitoring() override
    {
        OnPage([](CConfigDlg* p) { p->StartMonitoring(); });
    }
    void ListAccounts() override
    {
        OnPage([](CConfigDlg* p) { p->ListAccounts(); });
    }
    void SetUserNameValue(const QString& userName) override
    {
        OnPage([userName](CConfigDlg* p) { p->SetUserNameValue(userName); });
    }
    void SetLastWebId(const QString& webId) override
    {
        OnPage([webId](CConfigDlg* p) { p->SetLastWebId(webId); });
    }
    void EnableAddButton() override
    {
        OnPage([](CConfigDlg* p) { p->EnableAddButton(); });
    }
    void EnableModifyButton() override
    {
        OnPage([](CConfigDlg* p) { p->EnableModifyButton(); });
    }

private:
    // The page is reached through a guarded pointer, so a flow outliving the page does nothing.
    void OnPage(const std::function<void(CConfigDlg*)>& fn)
    {
        const QPointer<CConfigDlg> page = m_page;
        RunOnThreadAndWait(QCoreApplication::instance(), [page, fn] {
            if (page)
                fn(page.data());
        });
    }

    QPointer<CConfigDlg> m_page;
};

} // namespace

CConfigDlg::CConfigDlg(QWidget* parent) : QWidget(parent)
{
    g_pConfigDlg = this;
    setObjectName(QStringLiteral("CConfigDlg"));
    // The values before the stored settings are loaded.
    PublishLiveSettings(CSystemSettings());
    // The application's workers; a page made without the application runs its own.
    m_control = g_pMonitorControl ? g_pMonitorControl : new CMonitorControl(this);

    BuildControls();
    connect(m_control, &CMonitorControl::MonitoringChanged, this,
            [this](bool running) { m_monitorButton->setText(running ? kStopMonitoring : kStartMonitoring); });
    connect(m_control, &CMonitorControl::GreetingEndedUnasked, this,
            [this] { m_greetingButton->setText(kStartGreeting); });
    InitDialog();
}

CConfigDlg::~CConfigDlg()
{
    m_stateCheck.Stop();
    if (g_pConfigDlg == this)
        g_pConfigDlg = nullptr;
}

void CConfigDlg::InitDialog()
{
    m_account.greeting = DefaultGreeting();

    m_refreshSpin->SetRange(kRefreshMin, kRefreshMax);
    m_refreshSpin->SetPos(kRefreshDefault);
    m_sendSpin->SetRange(kSendMin, kSendMax);
    m_sendSpin->SetPos(kSendDefault);
    UpdateData(false);

    // Off this thread: its warning comes when its requests end.
    m_stateCheck = RunThenCallback(this, &CheckAccountStates, [] {});

    ListAccounts();
    LoadSettings();

    m_monitorButton->setEnabled(false);
    OnToggleMonitoring();
    m_monitorButton->setEnabled(true);
    OnToggleGreeting();
    m_control->StartRestartTimer();
}

bool CConfigDlg::ExchangeInterval(QLineEdit* edit, int lower, int upper, std::atomic<int>& value, bool quiet)
{
    bool ok = false;
    const int typed = edit->text().trimmed().toInt(&ok);
    if (!ok) {
        if (!quiet) {
            ShowMessageBox(QStringLiteral("请输入一个整数。"), AppTitle(), EMsgIcon::Exclamation);
            edit->setFocus();
            edit->selectAll();
        }
        return false;
    }
    // Live at once; below its minimum a number counts as the minimum.
    value = qMax(typed, lower);
    if (typed < lower || typed > upper) {
        if (!quiet) {
            ShowMessageBox(QStringLiteral("请输入一个在 %1 和 %2 之间的整数。").arg(lower).arg(upper), AppTitle(),
                           EMsgIcon::Exclamation);
            edit->setFocus();
            edit->selectAll();
        }
        return false;
    }
    return true;
}

bool CConfigDlg::UpdateData(bool saveAndValidate, bool quiet)
{
    CLiveSettings& live = LiveSettings();
    if (!saveAndValidate) {
        m_userNameEdit->setText(m_account.userName);
        m_passwordEdit->setText(m_account.password);
        m_autoSendCheck->setChecked(m_account.autoSend);
        m_autorunCheck->setChecked(live.autorun.load() != 0);
        m_clientTipCheck->setChecked(live.clienttip.load() != 0);
        m_refreshEdit->setText(QString::number(live.reflashtime.load()));
        m_refreshSpin->SetPos(live.reflashtime.load());
        m_sendEdit->setText(QString::number(live.sendsteptime.load()));
        m_sendSpin->SetPos(live.sendsteptime.load());
        if (m_messageEdit->toPlainText() != m_account.greeting)
            m_messageEdit->setPlainText(m_account.greeting);
        m_guestTipCheck->setChecked(live.guesttip.load() != 0);
        m_playSoundCheck->setChecked(live.playsound.load() != 0);
        m_userSmallNameEdit->setText(m_account.greetingAccount);
        return true;
    }

    // The fixed order of the copy: what follows a bad interval keeps its old value.
    bool complete = false;
    do {
        m_account.userName = m_userNameEdit->text();
        m_account.password = m_passwordEdit->text();
        m_account.autoSend = m_autoSendCheck->isChecked();
        live.autorun = m_autorunCheck->isChecked() ? 1 : 0;
        live.clienttip = m_clientTipCheck->isChecked() ? 1 : 0;
        if (!ExchangeInterval(m_refreshEdit, kRefreshMin, kRefreshMax, live.reflashtime, quiet))
            break;
        if (!ExchangeInterval(m_sendEdit, kSendMin, kSendMax, live.sendsteptime, quiet))
            break;
        m_account.greeting = m_messageEdit->toPlainText();
        live.guesttip = m_guestTipCheck->isChecked() ? 1 : 0;
        live.playsound = m_playSoundCheck->isChecked() ? 1 : 0;
        m_account.greetingAccount = m_userSmallNameEdit->text();
        complete = true;
    } while (false);
    return complete;
}

void CConfigDlg::ListAccounts()
{
    m_accountList->clear();
    // A refilled list may hold other accounts at the same rows.
    m_nLastRow = -1;
    const QIcon icon = AccountIcon();
    for (const CAccount& account : CAccountTable().ReadAll()) {
        auto* item = new QListWidgetItem(icon, account.userName, m_accountList);
        item->setData(Qt::UserRole, WebIdToInt(account.webId));
    }
}

bool CConfigDlg::IsMonitoring() const
{
    return m_control->IsMonitoring();
}

bool CConfigDlg::IsGreetingRunning() const
{
    return m_control->IsGreetingRunning();
}

void CConfigDlg::StartMonitoring()
{
    m_control->StartMonitoring();
}

void CConfigDlg::StopMonitoring()
{
    m_control->StopMonitoring();
}

bool CConfigDlg::IsCheckingAccountStates() const
{
    return m_stateCheck.IsRunning();
}

int CConfigDlg::GetSelectionMark() const
{
    const QList<QListWidgetItem*> selected = m_accountList->selectedItems();
    return selected.isEmpty() ? -1 : m_accountList->row(selected.first());
}

void CConfigDlg::EnableAddButton()
{
    m_addButton->setEnabled(true);
}

void CConfigDlg::EnableModifyButton()
{
    m_modifyButton->setEnabled(true);
}

namespace {

void StartFlow(CConfigDlg* page, void (*flow)(CAccount, IAccountPage&))
{
    auto host = std::make_shared<CPageHost>(page);
    const CAccount values = page->m_account;
    RunThenCallback(
        page, [host, values, flow] { flow(values, *host); }, [] {});
}

} // namespace

void CConfigDlg::OnAddAccount()
{
    UpdateData(true);
    StartFlow(this, &RunAddAccount);
    m_addButton->setEnabled(false);
}

void CConfigDlg::OnModifyAccount()
{
    UpdateData(true);
    StartFlow(this, &RunModifyAccount);
    m_modifyButton->setEnabled(false);
}

void CConfigDlg::ResetAccountFields()
{
    m_account.userName.clear();
    m_account.password.clear();
    m_account.greetingAccount.clear();
    m_account.autoSend = true;
    m_autoSendCheck->setEnabled(true);
    m_messageEdit->setEnabled(true);
    m_userSettingsGroup->setTitle(kUserSettingsCaption);
}

void CConfigDlg::OnDeleteAccount()
{
    StopMonitoring();
    const int mark = GetSelectionMark();
    const QString name = mark >= 0 ? m_accountList->item(mark)->text() : QString();
    CAccountTable().Delete(name);
    ResetAccountFields();
    UpdateData(false);
    ListAccounts();
    StartMonitoring();
}

void CConfigDlg::OnClickList(int row)
{
    if (row < 0) {
        m_nLastRow = -1;
        ResetAccountFields();
        m_account.greeting = DefaultGreeting();
        UpdateData(false);
        return;
    }
    if (row == m_nLastRow || row >= m_accountList->count())
        return;
    m_nLastRow = row;
    const QString name = m_accountList->item(row)->text();
    m_userSettingsGroup->setTitle(name + QStringLiteral(" 的用户设置"));
    m_autoSendCheck->setEnabled(true);
    if (CAccountTable().Find(name, &m_account) == EAccountLookup::Exists) {
        m_messageEdit->setEnabled(m_account.autoSend);
        UpdateData(false);
    }
}

void CConfigDlg::OnSaveGreeting()
{
    UpdateData(true);
    const int mark = GetSelectionMark();
    if (mark == -1) {
        ShowMessageBox(QStringLiteral("您还没选择要设置的账户！"), AppTitle(), EMsgIcon::Exclamation);
        return;
    }
    const QString name = m_accountList->item(mark)->text();
    if (CAccountTable().SaveGreeting(name, m_account.greeting, m_account.autoSend))
        ShowMessageBox(QStringLiteral("账户[%1]，设置保存成功！").arg(name), AppTitle(), EMsgIcon::Exclamation);
    else
        ShowMessageBox(QStringLiteral("账户[%1]，设置保存失败！").arg(name), AppTitle(), EMsgIcon::Exclamation);
}

void CConfigDlg::OnGreetingSwitch()
{
    UpdateData(true);
    m_messageEdit->setEnabled(m_account.autoSend);
}

void CConfigDlg::OnMakeCode()
{
    const int mark = GetSelectionMark();
    QString name;
    int webId = 0;
    if (mark >= 0) {
        name = m_accountList->item(mark)->text();
        webId = m_accountList->item(mark)->data(Qt::UserRole).toInt();
    }
    OpenMakeCodeDialog(this, mark, name, webId);
}

void CConfigDlg::OnToggleMonitoring()
{
    m_monitorButton->setEnabled(false);
    if (IsMonitoring())
        StopMonitoring();
    else
        StartMonitoring();
    m_monitorButton->setEnabled(true);
}

void CConfigDlg::OnToggleGreeting()
{
    m_greetingButton->setEnabled(false);
    if (IsGreetingRunning()) {
        m_control->StopGreeting();
        m_greetingButton->setText(kStartGreeting);
    } else {
        m_control->StartGreeting();
        m_greetingButton->setText(kStopGreeting);
    }
    m_greetingButton->setEnabled(true);
}

void CConfigDlg::LoadSettings()
{
    UpdateData(true);
    CSystemSettings stored;
    if (CSettingsTable().ReadSystem(stored)) {
        // The arrows hold 16 bits; the edit shows the value itself.
        m_refreshSpin->SetPos(static_cast<qint16>(stored.reflashtime & 0xFFFF));
        m_sendSpin->SetPos(static_cast<qint16>(stored.sendsteptime & 0xFFFF));
        PublishLiveSettings(stored);
    }
    UpdateData(false);
}

void CConfigDlg::OnSaveSettings()
{
    UpdateData(true);
    const CSystemSettings settings = LiveSystemSettings();
    const bool stored = CSettingsTable().WriteSystem(settings);
    // A folder we may not write to is not the owner's concern here.
    SetAutorunEntry(settings.autorun != 0, QCoreApplication::applicationFilePath());
    ShowMessageBox(stored ? QStringLiteral("系统设置保存成功！") : QStringLiteral("系统设置保存失败！"), AppTitle(),
                   EMsgIcon::Exclamation);
    UpdateData(false);
}

void CConfigDlg::OnAutorunClicked()
{
    UpdateData(true);
}

void CConfigDlg::OnSpinDelta(CUpDownCtrl* spin, std::atomic<int>& value, int pos, int delta)
{
    UpdateData(true);
    value = qBound(spin->GetLower(), pos + delta, spin->GetUpper());
    UpdateData(false);
}

void CConfigDlg::OnRefreshSpinDelta(int pos, int delta)
{
    OnSpinDelta(m_refreshSpin, LiveSettings().reflashtime, pos, delta);
}

void CConfigDlg::OnSendSpinDelta(int pos, int delta)
{
    OnSpinDelta(m_sendSpin, LiveSettings().sendsteptime, pos, delta);
}

void CConfigDlg::OnIntervalTyped(CUpDownCtrl* spin, const std::atomic<int>& value)
{
    // While typing, a half-written number is no reason to interrupt the owner.
    UpdateData(true, true);
    spin->SetPos(value.load());
}

void CConfigDlg::OnRefreshTyped()
{
    OnIntervalTyped(m_refreshSpin, LiveSettings().reflashtime);
}

void CConfigDlg::OnSendTyped()
{
    OnIntervalTyped(m_sendSpin, LiveSettings().sendsteptime);
}

bool CConfigDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_accountList->viewport() && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            const QModelIndex index = m_accountList->indexAt(mouse->position().toPoint());
            const int row = index.isValid() ? index.row() : -1;
            // After the list has taken the click (and its selection).
            QMetaObject::invokeMethod(
                this, [this, row] { OnClickList(row); }, Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(watched, event);
}
