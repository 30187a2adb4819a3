#pragma once
// "访客列表": the 30 latest visits with a mark for visitors online in the IM
// service, the visitor card pane with its "发送消息" button, and a chat or the
// item page on a double-click. Lives on the window's thread for the whole
// run. It owns what the workers use of it (the IP reader, the presence lists
// under one lock) and answers their refill and presence requests through
// IVisitorListBridge, always running them on its own thread.
#include "iploc/IpLocator.h"
#include "monitor/VisitorListBridge.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class CExplorer_showuserinfo;
class CSessionManageThread;
class CSortListCtrl;
class QPushButton;

class CUserListDlg : public QWidget, public IVisitorListBridge
{
    Q_OBJECT
public:
    // Runs the page's initialisation: list, pane, first fill, session thread.
    explicit CUserListDlg(QWidget* parent = nullptr);
    ~CUserListDlg() override;

    // IVisitorListBridge: callable from any thread; from a worker they
    // return once the window's thread has done the work.
    void RequestRefill() override;
    void RequestMarkOnline() override;
    CPresenceLists& PresenceLists() override { return m_presence; }
    CIpLocator* IpLocator() override { return &m_ipLocator; }

    // The 30 latest visits, newest first; rebuilds the presence lists.
    void FillVisitorList();
    // Every row's icon from the online names.
    void MarkOnlineVisitors();
    // Exactly that text is among the online names.
    bool IsOnline(const QString& name);

    // The list's click and double-click (row -1: below the last row).
    void OnClickList(int row, int column);
    void OnDblClkList(int row, int column);
    // Asks the IM client for a chat with visitor on account's behalf.
    void OpenVisitorChat(const QString& account, const QString& visitor);
    // Opens an "http://" address in the desktop's browser; anything else is ignored.
    void OpenItemPage(const QString& address);
    // Loads the card of the marked row's visitor into the browser pane.
    void ShowProfileCard();
    // The list's context menu: "删除该客户的全部记录" asks Yes/No, then deletes
    // the visitor everywhere (every shop's visits, greeting log, queued
    // greetings) and refills the list. False when nothing was deleted.
    bool OnDeleteVisitorEverywhere(const QString& visitor);
    static inline const QString kDeleteVisitorCommand = QStringLiteral("删除该客户的全部记录(&D)");
    static QString DeleteVisitorQuestion(const QString& visitor);
    static inline const QString kDeleteVisitorFailedText = QStringLiteral("删除没有全部完成,请稍后重试.");

    CSortListCtrl* List() const { return m_list; }
    CExplorer_showuserinfo* Browser() const { return m_browser; }
    QPushButton* SendMessageButton() const { return m_sendMessageButton; }
    // The selection mark as the last click left it.
    int LastSelection() const { return m_lastSelection; }

    static constexpr int kMaxRows = 30;
    static constexpr int kOnlineImage = 0;
    static constexpr int kOfflineImage = 1;
    static constexpr int kVisitorColumn = 0;
    static constexpr int kShopColumn = 2;
    static constexpr int kItemAddressColumn = 6;
    // How long the link handler of a chat may run before it is ended.
    static constexpr int kChatWaitMs = 10000;

Q_SIGNALS:
    void VisitorListFilled();
    void OnlineMarked();
    // A chat launch has ended: started or not.
    void ChatLaunchFinished(bool started);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void StartSessionManager();
    void ShowListMenu(const QPoint& position);
    void OnChatLaunchFinished(bool started);
    // The IM ID the presence lists keep for name; empty when none.
    QString PresenceImId(const QString& name);

    CSortListCtrl* m_list = nullptr;
    CExplorer_showuserinfo* m_browser = nullptr;
    QPushButton* m_sendMessageButton = nullptr;
    CIpLocator m_ipLocator;
    CPresenceLists m_presence;
    QPointer<CSessionManageThread> m_sessionThread;
    int m_lastSelection = -1;
};

// The page, set while it exists.
extern CUserListDlg* g_pUserListDlg;

inline constexpr const char* kUserListHeadings =
    "访客,100;IP,100;店铺,110;最后访问时间,120;次数,40;所属地区,100;商品地址,270";
