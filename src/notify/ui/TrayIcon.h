#pragma once
// The program's icon in the notification area. In balloon mode texts appear
// as balloons (title = the window's caption at creation); in tip mode they
// become the icon's tooltip. Texts are cut to what the balloon and tip hold.
// Without any notification area, alert texts (and the welcome balloon) go out
// as desktop notifications. The owner (main window) forwards the icon's mouse messages
// and carries out the menu's commands. Window's thread only.
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QSystemTrayIcon;
class QWidget;
class CDesktopNotifier;

class CTrayIcon : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIconId = 132;
    static constexpr int kCallbackMessage = 1034;
    // Capacities in characters including the terminating zero.
    static constexpr int kTipCapacity = 128;
    static constexpr int kBalloonTextCapacity = 256;
    static constexpr int kBalloonTitleCapacity = 64;
    // How long a balloon stays up.
    static constexpr int kBalloonMs = 10000;
    // Fields of the icon data that a request updates.
    static constexpr unsigned kFlagMessage = 0x1, kFlagIcon = 0x2, kFlagTip = 0x4, kFlagInfo = 0x10;
    // Keys of the desktop notification's actions.
    static inline const QString kActionOpenChat = QStringLiteral("open-chat");
    static inline const QString kActionShow = QStringLiteral("show");
    // Mouse messages the icon reports.
    static constexpr int kMouseMove = 0x200, kLButtonDown = 0x201, kLButtonUp = 0x202, kLButtonDblClk = 0x203,
                         kRButtonDown = 0x204, kRButtonUp = 0x205, kMButtonUp = 0x208;
    // Commands of the icon's menu.
    static constexpr int kCmdHide = 32778, kCmdShow = 32776, kCmdExit = 32777;

    explicit CTrayIcon(QObject* parent = nullptr);
    ~CTrayIcon() override;

    // Adds the icon for window: balloon mode shows the welcome balloon at once,
    // tip mode puts the welcome text into the tooltip. True when the icon is in
    // the notification area.
    bool Create(const QIcon& icon, QWidget* window, bool balloon);
    // The alert text: the balloon's text (balloon mode) or the tooltip (tip mode).
    // False when there is no icon (and no desktop notification went out).
    // offerChat: a desktop notification offers "打开对话" besides "查看".
    bool SetTooltipText(const QString& text, bool offerChat = false);
    bool RemoveIcon();
    // Sends the stored icon data again: the last balloon reappears.
    bool ShowLastBalloon();
    // 1 when handled, 0 otherwise. A right-button release pops the menu up.
    int OnTrayNotification(int iconId, int mouseMessage);

    bool IsAdded() const { return m_added; }
    bool IsBalloonMode() const { return m_balloon; }
    unsigned Flags() const { return m_flags; }
    QString Tip() const { return m_tip; }
    QString BalloonText() const { return m_balloonText; }
    QString BalloonTitle() const { return m_balloonTitle; }
    // The menu while it is up (null otherwise).
    QMenu* Menu() const { return m_menu; }
    QSystemTrayIcon* SystemTrayIcon() const { return m_tray; }

    // Builds the icon's menu: "隐藏" (default), "显示", "退出".
    QMenu* CreateMenu(QWidget* parent);
    // The text cut to capacity - 1 characters, never inside a surrogate pair.
    static QString CutToCapacity(const QString& text, int capacity);

    // Where desktop notifications go (tests replace it); returns true when sent.
    using DesktopSender = std::function<bool(const QString& title, const QString& body)>;
    void SetDesktopSender(DesktopSender sender);
    // Whether a notification area exists (tests force an answer).
    using TrayProbe = std::function<bool()>;
    void SetTrayProbe(TrayProbe probe);
    // What icons made from now on start with (tests).
    static void SetDefaultDesktopSender(DesktopSender sender);
    static void SetDefaultTrayProbe(TrayProbe probe);
    bool TrayAvailable() const;
    // Requests sent to the notification area so far (add and modify).
    int SendCount() const { return m_sendCount; }

Q_SIGNALS:
    // A mouse message of the icon, for the owner to dispatch.
    void Notification(int iconId, int mouseMessage);
    // A command from the icon's menu (or its default on double-click).
    void Command(int commandId);
    // The owner acted on an alert: a click on the balloon or the notification's
    // "打开对话" (openChat), or its "查看".
    void AlertActivated(bool openChat);

private:
    // Shows the stored data: balloon or tooltip after the flags.
    bool Send();
    bool SendDesktop(const QString& title, const QString& body, const QStringList& actions = {});

    QSystemTrayIcon* m_tray = nullptr;
    CDesktopNotifier* m_notifier = nullptr;
    QPointer<QWidget> m_window;
    QPointer<QMenu> m_menu;
    bool m_added = false;
    bool m_balloon = false;
    bool m_desktopFallback = false;
    unsigned m_flags = 0;
    int m_sendCount = 0;
    QString m_tip;
    QString m_balloonText;
    QString m_balloonTitle;
    DesktopSender m_desktopSender;
    TrayProbe m_trayProbe;
};
