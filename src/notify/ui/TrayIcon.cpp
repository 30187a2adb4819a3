#include "notify/ui/TrayIcon.h"

#include "controls/ui/OutsideText.h"
#include "notify/ui/DesktopNotifier.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {
const QString kWelcome = QStringLiteral("欢迎使用!");
CTrayIcon::DesktopSender g_defaultSender;
CTrayIcon::TrayProbe g_defaultProbe;
} // namespace

void CTrayIcon::SetDefaultDesktopSender(DesktopSender sender)
{
    g_defaultSender = std::move(sender);
}

void CTrayIcon::SetDefaultTrayProbe(TrayProbe probe)
{
    g_defaultProbe = std::move(probe);
}

CTrayIcon::CTrayIcon(QObject* parent)
    : QObject(parent), m_tray(new QSystemTrayIcon(this)), m_desktopSender(g_defaultSender), m_trayProbe(g_defaultProbe)
{
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        int message = kMouseMove;
        switch (reason) {
        case QSystemTrayIcon::Context:
            message = kRButtonUp;
            break;
        case QSystemTrayIcon::DoubleClick:
            message = kLButtonDblClk;
            break;
        case QSystemTrayIcon::Trigger:
            message = kLButtonUp;
            break;
        case QSystemTrayIcon::MiddleClick:
            message = kMButtonUp;
            break;
        case QSystemTrayIcon::Unknown:
            break;
        }
        Q_EMIT Notification(kIconId, message);
    });
    connect(m_tray, &QSystemTrayIcon::messageClicked, this, [this] { Q_EMIT AlertActivated(true); });
}

CTrayIcon::~CTrayIcon()
{
    RemoveIcon();
    delete m_menu;
}

QString CTrayIcon::CutToCapacity(const QString& text, int capacity)
{
    const qsizetype max = std::max(capacity - 1, 0);
    if (text.size() <= max)
        return text;
    qsizetype cut = max;
    if (cut > 0 && text[cut - 1].isHighSurrogate())
        --cut;
    return text.left(cut);
}

void CTrayIcon::SetDesktopSender(DesktopSender sender)
{
    m_desktopSender = std::move(sender);
}

void CTrayIcon::SetTrayProbe(TrayProbe probe)
{
    m_trayProbe = std::move(probe);
}

bool CTrayIcon::TrayAvailable() const
{
    return m_trayProbe ? m_trayProbe() : QSystemTrayIcon::isSystemTrayAvailable();
}

bool CTrayIcon::SendDesktop(const QString& title, const QString& body, const QStringList& actions)
{
    if (m_desktopSender)
        return m_desktopSender(title, body);
    if (!m_notifier) {
        m_notifier = new CDesktopNotifier(this);
        connect(m_notifier, &CDesktopNotifier::ActionInvoked, this,
                [this](const QString& key) { Q_EMIT AlertActivated(key == kActionOpenChat); });
    }
    return m_notifier->Notify(title, body, kBalloonMs, actions);
}

bool CTrayIcon::Create(const QIcon& icon, QWidget* window, bool balloon)
{
    m_added = false;
    m_desktopFallback = false;
    if (!window)
        return false;
    m_window = window;
    m_balloon = balloon;
    m_tray->setIcon(icon);
    if (balloon) {
        m_flags = kFlagMessage | kFlagIcon | kFlagTip | kFlagInfo;
        m_balloonText = kWelcome;
        m_balloonTitle = CutToCapacity(window->windowTitle(), kBalloonTitleCapacity);
        m_tip = CutToCapacity(window->windowTitle(), kTipCapacity);
    } else {
        m_flags = kFlagMessage | kFlagIcon | kFlagTip;
        m_tip = kWelcome;
    }
    if (!TrayAvailable()) {
        // No notification area: balloons become desktop notifications.
        m_desktopFallback = true;
        if (balloon)
            SendDesktop(m_balloonTitle, m_balloonText);
        return false;
    }
    m_tray->show();
    m_added = true;
    Send();
    return true;
}

bool CTrayIcon::Send()
{
    ++m_sendCount;
    if (m_flags & kFlagTip)
        m_tray->setToolTip(TextAsTooltip(m_tip));
    if (m_flags & kFlagInfo)
        m_tray->showMessage(m_balloonTitle, m_balloonText, QSystemTrayIcon::Information, kBalloonMs);
    return true;
}

bool CTrayIcon::SetTooltipText(const QString& text, bool offerChat)
{
    if (!m_added) {
        // No notification area to hold a balloon or a tooltip: whatever the
        // mode, the owner still sees the alert as a desktop notification.
        if (m_desktopFallback) {
            const QString title =
                m_balloon || !m_window ? m_balloonTitle : CutToCapacity(m_window->windowTitle(), kBalloonTitleCapacity);
            QStringList actions;
            if (offerChat)
                actions << kActionOpenChat << QStringLiteral("打开对话");
            actions << kActionShow << QStringLiteral("查看");
            return SendDesktop(title, CutToCapacity(text, kBalloonTextCapacity), actions);
        }
        return false;
    }
    if (m_balloon) {
        m_balloonText = CutToCapacity(text, kBalloonTextCapacity);
    } else {
        m_flags = kFlagTip;
        m_tip = CutToCapacity(text, kTipCapacity);
    }
    return Send();
}

bool CTrayIcon::ShowLastBalloon()
{
    if (!m_added)
        return false;
    return Send();
}

bool CTrayIcon::RemoveIcon()
{
    m_desktopFallback = false;
    if (!m_added)
        return false;
    m_flags = 0;
    m_tray->hide();
    m_added = false;
    return true;
}

QMenu* CTrayIcon::CreateMenu(QWidget* parent)
{
    auto* menu = new QMenu(QStringLiteral("MINIMIZE"), parent);
    menu->setObjectName(QStringLiteral("trayMenu"));
    struct
    {
        int id;
        const char* text;
        const char* name;
    } const items[] = {{kCmdHide, "隐藏", "trayHideAction"},
                       {kCmdShow, "显示", "trayShowAction"},
                       {kCmdExit, "退出", "trayExitAction"}};
    for (const auto& item : items) {
        QAction* action = menu->addAction(QString::fromUtf8(item.text));
        action->setObjectName(QLatin1String(item.name));
        action->setProperty("commandId", item.id);
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { Q_EMIT Command(id); });
    }
    // The item at position 0 is the default one, drawn bold.
    menu->setDefaultAction(menu->actions().constFirst());
    return menu;
}

int CTrayIcon::OnTrayNotification(int iconId, int mouseMessage)
{
    if (iconId != kIconId)
        return 0;
    if (mouseMessage == kRButtonUp) {
        delete m_menu;
        QMenu* menu = CreateMenu(m_window);
        connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
        m_menu = menu;
        if (m_window)
            m_window->activateWindow();
        menu->popup(QCursor::pos());
        return 1;
    }
    if (mouseMessage == kLButtonDblClk) {
        if (m_window)
            m_window->activateWindow();
        Q_EMIT Command(kCmdHide);
        return 1;
    }
    return 1;
}
