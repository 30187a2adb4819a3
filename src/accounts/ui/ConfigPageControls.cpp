#include "accounts/ui/ConfigPageControls.h"
#include "accounts/ui/ConfigDlg.h"
#include "accounts/ui/ConfigPageNames.h"
#include "accounts/ui/UpDownCtrl.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

using namespace ConfigCaption;

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

namespace {

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
