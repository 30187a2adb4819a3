#pragma once
// The main window: menu, large-button toolbar, five-pane status bar, the icon
// in the notification area and the view with its pages. It also carries the
// two services worker threads use through g_pMainFrame / OwnerNotifier():
// the transient status message and the owner alert. Closing only hides it;
// the exit commands end the program. Window's thread, except the two
// services, which any thread may call.
#include "notify/AlertSound.h"
#include "notify/OwnerNotifier.h"
#include "notify/StatusMessage.h"
#include "notify/ui/TrayIcon.h"

#include <QByteArray>
#include <QHash>
#include <QIcon>
#include <QMainWindow>

#include <array>
#include <atomic>

class CMirelHelperView;
class CTrueColorToolBar;
class QLabel;

class CMainFrame : public QMainWindow, public IOwnerNotifier
{
    Q_OBJECT
public:
    // Command ids of the menu, toolbar and tray menu.
    static constexpr int kCmdRefreshList = 32779, kCmdUserList = 32771, kCmdConfig = 32772, kCmdLastAlert = 32784,
                         kCmdHistory = 32783, kCmdHelp = 32780, kCmdAbout = 57664, kCmdFeaturedShops = 32789,
                         kCmdStatistics = 32790, kCmdToolBar = 59392, kCmdStatusBar = 59393, kCmdExit = 57665,
                         kCmdAdvancedSettings = 32795, kCmdTeamSettings = 32796, kCmdPauseAlerts = 32797;
    static constexpr std::array<int, 9> kToolBarCommands{kCmdRefreshList, kCmdUserList,      kCmdConfig,
                                                         kCmdLastAlert,   kCmdHistory,       kCmdHelp,
                                                         kCmdAbout,       kCmdFeaturedShops, kCmdStatistics};
    static constexpr int kPaneCount = 5;
    static constexpr int kInfoPane = 4;
    // The window's title while it is being created; the application sets the caption afterwards.
    static inline const QString kInitialTitle = QStringLiteral("Lumo网店助手网店助手-Vexa来客提醒 v1.1");
    static inline const QString kAlertsPausedText =
        QStringLiteral("提醒已暂停:新客户照常记录和打招呼,只是不响铃,不弹出提示");
    static inline const QString kAlertsResumedText = QStringLiteral("提醒已恢复");

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Toolbar, status bar and notification-area icon (balloon mode, welcome
    // balloon). False when a part could not be made.
    bool Create();
    CMirelHelperView* View() const { return m_view; }

    // IOwnerNotifier: any thread.
    void ShowStatusMessage(const QString& text) override;
    void AlertOwner(const QString& text) override;
    void AlertOwnerAbout(const QString& text, const QString& shop, const QString& visitor) override;

    // Commands.
    QAction* Action(int commandId) const { return m_actions.value(commandId); }
    void OnCommand(int commandId);
    void OnAppExit();
    void OnTrayHide();
    void OnTrayShow();
    void OnLastAlert();
    void OnTrayNotification(int iconId, int mouseMessage);
    // The owner acted on the last alert: its visitor's chat (as the visitor
    // list's double-click opens it) or, without a visitor, the main window.
    void OnAlertActivated(bool openChat);
    // Paused: the owner alert (sound and balloon) stays away for every visitor,
    // watched ones too, until resumed; visits are recorded, listed and greeted
    // as ever. Kept while the program runs; a new start alerts again.
    void SetAlertsPaused(bool paused);
    bool AlertsPaused() const { return m_alertsPaused.load(); }
    // Closes for good (the exit path); a plain close only hides.
    void CloseFrame();

    CTrayIcon& TrayIcon() { return m_tray; }
    bool IconShown() const { return m_iconShown; }
    // An icon in a notification area that still exists: a hidden window can come back.
    bool HasTrayIcon() const;
    CStatusMessage& StatusMessage() { return m_status; }
    CAlertSound& Sound() { return m_sound; }
    QLabel* Pane(int index) const;
    CTrueColorToolBar* ToolBar() const { return m_toolBar; }
    static QIcon AppIcon();

public Q_SLOTS:
    // The notification area came (back): the icon is made again, in tip mode.
    void OnTaskbarCreated();

Q_SIGNALS:
    // The exit command: the application stops the workers and ends the program.
    void ExitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    bool CreateToolBar();
    bool CreateStatusBar();
    void WatchTrayHost();
    void UpdateRefreshCommand();
    void ShowAlertText(const QString& text, const QString& shop, const QString& visitor);

    CMirelHelperView* m_view;
    CTrueColorToolBar* m_toolBar = nullptr;
    std::array<QLabel*, kPaneCount> m_panes{};
    QHash<int, QAction*> m_actions;
    CTrayIcon m_tray;
    bool m_iconShown = false;
    bool m_closing = false;
    CStatusMessage m_status;
    CAlertSound m_sound;
    QByteArray m_chime;
    std::atomic<bool> m_alertsPaused{false};
    // Whom the alert on the screen is about; empty visitor: nobody in particular.
    QString m_alertShop;
    QString m_alertVisitor;
};

extern CMainFrame* g_pMainFrame;
