#include "accounts/ui/ConfigDlg.h"

#include "accounts/AccountFlows.h"
#include "accounts/AccountStore.h"
#include "accounts/Autorun.h"
#include "accounts/LiveSettings.h"
#include "accounts/ui/ConfigPageNames.h"
#include "accounts/ui/UpDownCtrl.h"
#include "app/PageFactory.h"
#include "greet/Greeting.h"
#include "monitor/MonitorControl.h"
#include "net/TrackingService.h"
#include "platform/MessageBox.h"
#include "platform/OneShot.h"
#include "platform/Workers.h"
#include "trackcode/ui/MakeCodeDlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <memory>

CConfigDlg* g_pConfigDlg = nullptr;

namespace {

const QString kUserSettingsCaption = QStringLiteral("用户设置");
const QString kStartMonitoring = QStringLiteral("开始监视");
const QString kStopMonitoring = QStringLiteral("停止监视");
const QString kStartGreeting = QStringLiteral("开始自动打招呼");
const QString kStopGreeting = QStringLiteral("停止自动打招呼");

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

// Our account picture: a head and shoulders on a round badge.
QIcon AccountIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2f, 0x6f, 0xb5));
    painter.drawEllipse(1, 1, 30, 30);
    painter.setBrush(QColor(0xf4, 0xf1, 0xe8));
    painter.drawEllipse(11, 6, 10, 10);
    painter.drawRoundedRect(QRectF(7, 17, 18, 10), 5, 5);
    painter.end();
    return QIcon(pixmap);
}

QLabel* MakeLabel(const QString& text, QWidget* parent, const QString& name = QString())
{
    auto* label = new QLabel(text, parent);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

QLineEdit* MakeEdit(const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QPushButton* MakeButton(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheck(const QString& text, const QString& name, QWidget* parent)
{
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(name);
    return check;
}

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

void CConfigDlg::BuildControls()
{
    // "用户添加": the accounts.
    auto* accountGroup = new QGroupBox(QStringLiteral("用户添加"), this);
    accountGroup->setObjectName(QStringLiteral("accountGroup"));
    auto* accountLayout = new QGridLayout(accountGroup);
    m_userNameEdit = MakeEdit(QStringLiteral("accountNameEdit"), accountGroup);
    m_userSmallNameEdit = MakeEdit(QStringLiteral("greetingAccountEdit"), accountGroup);
    m_passwordEdit = MakeEdit(QStringLiteral("passwordEdit"), accountGroup);
    accountLayout->addWidget(MakeLabel(QStringLiteral("店铺主号:"), accountGroup), 0, 0);
    accountLayout->addWidget(m_userNameEdit, 0, 1);
    accountLayout->addWidget(
        MakeLabel(QStringLiteral("(您的Lumo账号,区分大小写)"), accountGroup, QStringLiteral("accountNameHintLabel")), 0,
        2);
    accountLayout->addWidget(MakeLabel(QStringLiteral("Lumo小号:"), accountGroup), 1, 0);
    accountLayout->addWidget(m_userSmallNameEdit, 1, 1);
    accountLayout->addWidget(
        MakeLabel(QStringLiteral("(此账号只保存在本地)"), accountGroup, QStringLiteral("greetingAccountHintLabel")), 1,
        2);
    accountLayout->addWidget(MakeLabel(QStringLiteral("防监视密码:"), accountGroup), 2, 0);
    accountLayout->addWidget(m_passwordEdit, 2, 1);
    accountLayout->addWidget(
        MakeLabel(QStringLiteral("(非Lumo密码!)"), accountGroup, QStringLiteral("passwordHintLabel")), 2, 2);

    m_accountList = new QListWidget(accountGroup);
    m_accountList->setObjectName(QStringLiteral("accountList"));
    m_accountList->setViewMode(QListView::IconMode);
    m_accountList->setIconSize(QSize(32, 32));
    m_accountList->setFlow(QListView::TopToBottom);
    m_accountList->setWrapping(true);
    m_accountList->setMovement(QListView::Static);
    m_accountList->setResizeMode(QListView::Adjust);
    m_accountList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_accountList->setGridSize(QSize(96, 56));
    m_accountList->viewport()->installEventFilter(this);
    accountLayout->addWidget(m_accountList, 3, 0, 1, 3);
    accountLayout->addWidget(MakeLabel(QStringLiteral("(选中列表中用户进行设置,打招呼账户和防监视密码不能修改)"),
                                       accountGroup, QStringLiteral("accountListHintLabel")),
                             4, 0, 1, 3);
    auto* accountButtons = new QHBoxLayout;
    m_addButton = MakeButton(QStringLiteral("添加账户"), QStringLiteral("addAccountButton"), accountGroup);
    m_deleteButton = MakeButton(QStringLiteral("删除账户"), QStringLiteral("deleteAccountButton"), accountGroup);
    m_modifyButton = MakeButton(QStringLiteral("修改账户"), QStringLiteral("modifyAccountButton"), accountGroup);
    accountButtons->addWidget(m_addButton);
    accountButtons->addWidget(m_deleteButton);
    accountButtons->addWidget(m_modifyButton);
    accountLayout->addLayout(accountButtons, 5, 0, 1, 3);

    // "用户设置": the greeting of the loaded account, and the thread switches.
    m_userSettingsGroup = new QGroupBox(kUserSettingsCaption, this);
    m_userSettingsGroup->setObjectName(QStringLiteral("userSettingsGroup"));
    auto* userLayout = new QVBoxLayout(m_userSettingsGroup);
    m_autoSendCheck =
        MakeCheck(QStringLiteral("自动向客户打招呼"), QStringLiteral("greetingSwitchCheck"), m_userSettingsGroup);
    userLayout->addWidget(m_autoSendCheck);
    auto* hint = MakeLabel(QStringLiteral("提示:[username] 为访客名称!\t如:[username]您好,欢迎光临!\n"
                                          "     [randomcode]为随机码，如您好，欢迎光临！[randomcode]"),
                           m_userSettingsGroup, QStringLiteral("greetingHintLabel"));
    userLayout->addWidget(hint);
    m_messageEdit = new QPlainTextEdit(m_userSettingsGroup);
    m_messageEdit->setObjectName(QStringLiteral("greetingTextEdit"));
    m_messageEdit->setTabChangesFocus(true);
    userLayout->addWidget(m_messageEdit);
    auto* userButtons = new QGridLayout;
    m_makeCodeButton = MakeButton(QStringLiteral("生成代码"), QStringLiteral("makeCodeButton"), m_userSettingsGroup);
    m_saveGreetingButton =
        MakeButton(QStringLiteral("保存"), QStringLiteral("saveGreetingButton"), m_userSettingsGroup);
    m_monitorButton = MakeButton(kStartMonitoring, QStringLiteral("monitorToggleButton"), m_userSettingsGroup);
    m_greetingButton = MakeButton(kStopGreeting, QStringLiteral("greetingToggleButton"), m_userSettingsGroup);
    userButtons->addWidget(m_makeCodeButton, 0, 0);
    userButtons->addWidget(m_saveGreetingButton, 0, 1);
    userButtons->addWidget(m_monitorButton, 1, 0);
    userButtons->addWidget(m_greetingButton, 1, 1);
    userLayout->addLayout(userButtons);

    // "系统设置".
    auto* systemGroup = new QGroupBox(QStringLiteral("系统设置"), this);
    systemGroup->setObjectName(QStringLiteral("systemSettingsGroup"));
    auto* systemLayout = new QGridLayout(systemGroup);
    m_autorunCheck = MakeCheck(QStringLiteral("开机自启动"), QStringLiteral("autorunCheck"), systemGroup);
    m_clientTipCheck = MakeCheck(QStringLiteral("来客自动提醒"), QStringLiteral("clientTipCheck"), systemGroup);
    m_guestTipCheck = MakeCheck(QStringLiteral("游客访问提醒"), QStringLiteral("guestTipCheck"), systemGroup);
    m_playSoundCheck = MakeCheck(QStringLiteral("来客播放声音"), QStringLiteral("playSoundCheck"), systemGroup);
    systemLayout->addWidget(m_autorunCheck, 0, 0);
    systemLayout->addWidget(m_clientTipCheck, 0, 1);
    systemLayout->addWidget(m_guestTipCheck, 0, 2);
    systemLayout->addWidget(m_playSoundCheck, 0, 3);

    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto intervalRow = [&](int row, const QString& label, const QString& editName, const QString& spinName,
                           QLineEdit*& edit, CUpDownCtrl*& spin) {
        edit = MakeEdit(editName, systemGroup);
        edit->setValidator(digits);
        edit->setMaxLength(10);
        edit->setMaximumWidth(80);
        spin = new CUpDownCtrl(systemGroup);
        spin->setObjectName(spinName);
        auto* box = new QHBoxLayout;
        box->setSpacing(0);
        box->addWidget(edit);
        box->addWidget(spin);
        box->addWidget(MakeLabel(QStringLiteral("(秒)"), systemGroup));
        box->addStretch();
        systemLayout->addWidget(MakeLabel(label, systemGroup), row, 0, 1, 2);
        systemLayout->addLayout(box, row, 2, 1, 2);
    };
    intervalRow(1, QStringLiteral("监控用户刷新间隔时间"), QStringLiteral("refreshIntervalEdit"),
                QStringLiteral("refreshIntervalSpin"), m_refreshEdit, m_refreshSpin);
    intervalRow(2, QStringLiteral("连续发送信息间隔时间"), QStringLiteral("sendIntervalEdit"),
                QStringLiteral("sendIntervalSpin"), m_sendEdit, m_sendSpin);
    m_saveSettingsButton = MakeButton(QStringLiteral("保存"), QStringLiteral("saveSettingsButton"), systemGroup);
    systemLayout->addWidget(m_saveSettingsButton, 1, 4, 2, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(accountGroup, 1);
    top->addWidget(m_userSettingsGroup, 1);
    auto* page = new QVBoxLayout(this);
    page->addLayout(top, 1);
    page->addWidget(systemGroup);

    connect(m_addButton, &QPushButton::clicked, this, &CConfigDlg::OnAddAccount);
    connect(m_modifyButton, &QPushButton::clicked, this, &CConfigDlg::OnModifyAccount);
    connect(m_deleteButton, &QPushButton::clicked, this, &CConfigDlg::OnDeleteAccount);
    connect(m_autoSendCheck, &QCheckBox::clicked, this, &CConfigDlg::OnGreetingSwitch);
    connect(m_saveGreetingButton, &QPushButton::clicked, this, &CConfigDlg::OnSaveGreeting);
    connect(m_makeCodeButton, &QPushButton::clicked, this, &CConfigDlg::OnMakeCode);
    connect(m_monitorButton, &QPushButton::clicked, this, &CConfigDlg::OnToggleMonitoring);
    connect(m_greetingButton, &QPushButton::clicked, this, &CConfigDlg::OnToggleGreeting);
    connect(m_saveSettingsButton, &QPushButton::clicked, this, &CConfigDlg::OnSaveSettings);
    connect(m_autorunCheck, &QCheckBox::clicked, this, &CConfigDlg::OnAutorunClicked);
    connect(m_refreshSpin, &CUpDownCtrl::DeltaPos, this, &CConfigDlg::OnRefreshSpinDelta);
    connect(m_sendSpin, &CUpDownCtrl::DeltaPos, this, &CConfigDlg::OnSendSpinDelta);
    connect(m_refreshEdit, &QLineEdit::textEdited, this, &CConfigDlg::OnRefreshTyped);
    connect(m_sendEdit, &QLineEdit::textEdited, this, &CConfigDlg::OnSendTyped);
    NameConfigPageControls(this);
}

void CConfigDlg::InitDialog()
{
    m_strMessage = DefaultGreeting();

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
        m_userNameEdit->setText(m_strUserName);
        m_passwordEdit->setText(m_strPassword);
        m_autoSendCheck->setChecked(m_bAutoSend);
        m_autorunCheck->setChecked(live.autorun.load() != 0);
        m_clientTipCheck->setChecked(live.clienttip.load() != 0);
        m_refreshEdit->setText(QString::number(live.reflashtime.load()));
        m_refreshSpin->SetPos(live.reflashtime.load());
        m_sendEdit->setText(QString::number(live.sendsteptime.load()));
        m_sendSpin->SetPos(live.sendsteptime.load());
        if (m_messageEdit->toPlainText() != m_strMessage)
            m_messageEdit->setPlainText(m_strMessage);
        m_guestTipCheck->setChecked(live.guesttip.load() != 0);
        m_playSoundCheck->setChecked(live.playsound.load() != 0);
        m_userSmallNameEdit->setText(m_strUserSmallName);
        return true;
    }

    // The fixed order of the copy: what follows a bad interval keeps its old value.
    bool complete = false;
    do {
        m_strUserName = m_userNameEdit->text();
        m_strPassword = m_passwordEdit->text();
        m_bAutoSend = m_autoSendCheck->isChecked();
        live.autorun = m_autorunCheck->isChecked() ? 1 : 0;
        live.clienttip = m_clientTipCheck->isChecked() ? 1 : 0;
        if (!ExchangeInterval(m_refreshEdit, kRefreshMin, kRefreshMax, live.reflashtime, quiet))
            break;
        if (!ExchangeInterval(m_sendEdit, kSendMin, kSendMax, live.sendsteptime, quiet))
            break;
        m_strMessage = m_messageEdit->toPlainText();
        live.guesttip = m_guestTipCheck->isChecked() ? 1 : 0;
        live.playsound = m_playSoundCheck->isChecked() ? 1 : 0;
        m_strUserSmallName = m_userSmallNameEdit->text();
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
    for (const CAccountListEntry& entry : ReadAccountList()) {
        auto* item = new QListWidgetItem(icon, entry.userName, m_accountList);
        item->setData(Qt::UserRole, entry.webId);
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

CAccountValues CaptureValues(const CConfigDlg& page)
{
    CAccountValues values;
    values.userName = page.m_strUserName;
    values.greetingAccount = page.m_strUserSmallName;
    values.password = page.m_strPassword;
    values.greeting = page.m_strMessage;
    values.autoSend = page.m_bAutoSend;
    return values;
}

void StartFlow(CConfigDlg* page, void (*flow)(CAccountValues, IAccountPage&))
{
    auto host = std::make_shared<CPageHost>(page);
    const CAccountValues values = CaptureValues(*page);
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
    m_strUserName.clear();
    m_strPassword.clear();
    m_strUserSmallName.clear();
    m_bAutoSend = true;
    m_autoSendCheck->setEnabled(true);
    m_messageEdit->setEnabled(true);
    m_userSettingsGroup->setTitle(kUserSettingsCaption);
}

void CConfigDlg::OnDeleteAccount()
{
    StopMonitoring();
    const int mark = GetSelectionMark();
    const QString name = mark >= 0 ? m_accountList->item(mark)->text() : QString();
    DeleteAccount(name);
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
        m_strMessage = DefaultGreeting();
        UpdateData(false);
        return;
    }
    if (row == m_nLastRow || row >= m_accountList->count())
        return;
    m_nLastRow = row;
    const QString name = m_accountList->item(row)->text();
    m_userSettingsGroup->setTitle(name + QStringLiteral(" 的用户设置"));
    m_autoSendCheck->setEnabled(true);
    CAccountRecord account;
    if (ReadAccount(name, account)) {
        m_strUserName = account.userName;
        m_strUserSmallName = account.greetingAccount;
        m_strPassword = account.password;
        m_strMessage = account.greeting;
        m_bAutoSend = account.autoSend;
        m_messageEdit->setEnabled(m_bAutoSend);
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
    if (SaveAccountGreeting(name, m_strMessage, m_bAutoSend))
        ShowMessageBox(QStringLiteral("账户[%1]，设置保存成功！").arg(name), AppTitle(), EMsgIcon::Exclamation);
    else
        ShowMessageBox(QStringLiteral("账户[%1]，设置保存失败！").arg(name), AppTitle(), EMsgIcon::Exclamation);
}

void CConfigDlg::OnGreetingSwitch()
{
    UpdateData(true);
    m_messageEdit->setEnabled(m_bAutoSend);
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
    if (ReadSystemSettings(stored)) {
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
    const bool stored = WriteSystemSettings(settings);
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

QWidget* CreateConfigPage(QWidget* parent)
{
    return new CConfigDlg(parent);
}
