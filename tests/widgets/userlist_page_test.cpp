// The visitor list page on a real store: what it lists, the online marks,
// the presence lists it keeps for the presence thread, the requests workers
// make of it, and the keys it ignores.
#include "support/TestMain.h"
#include "support/WaitUntil.h"
#include "userlist_fixture.h"

#include "app/PageFactory.h"
#include "monitor/SessionMan.h"
#include "monitor/ui/Explorer_showuserinfo.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTextBrowser>

#include <algorithm>
#include <thread>

namespace {

using UserListPage = CUserListTest;

TEST_F(UserListPage, FortyFiveVisitsShowTheThirtyLatestNewestFirst)
{
    // Inserted out of time order, so the order on the page comes from [lasttime].
    QList<int> order;
    for (int i = 0; i < 45; ++i)
        order << i;
    std::shuffle(order.begin(), order.end(), *QRandomGenerator::global());
    for (int i : order) {
        CUserListVisit visit;
        visit.guest = QStringLiteral("v%1").arg(i, 2, 10, QLatin1Char('0'));
        visit.time = T(i * 7);
        visit.imId = QStringLiteral("id%1").arg(i);
        visit.ip = QStringLiteral("10.0.0.%1").arg(i);
        visit.shop = i % 2 ? QStringLiteral("shop-odd") : QStringLiteral("shop-even");
        visit.url = QStringLiteral("http://item.example/%1").arg(i);
        visit.city = QStringLiteral("城市%1").arg(i);
        ASSERT_TRUE(AddVisit(visit));
    }

    CUserListDlg& page = Page();
    QStringList expectedNames;
    for (int i = 44; i >= 15; --i)
        expectedNames << QStringLiteral("v%1").arg(i, 2, 10, QLatin1Char('0'));
    EXPECT_EQ(Column(0), expectedNames);

    // Every column of the newest row, in the order of the headings.
    const QStringList newest{QStringLiteral("v44"),
                             QStringLiteral("10.0.0.44"),
                             QStringLiteral("shop-even"),
                             T(44 * 7).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                             QStringLiteral("1"),
                             QStringLiteral("城市44"),
                             QStringLiteral("http://item.example/44")};
    for (int column = 0; column < 7; ++column)
        EXPECT_EQ(page.List()->GetItemText(0, column), newest[column]) << "column " << column;
    EXPECT_EQ(page.List()->GetItemText(29, 3), T(15 * 7).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));

    // Nobody online yet: every row carries the offline icon.
    EXPECT_EQ(Images(), QList<int>(30, CUserListDlg::kOfflineImage));
    // The presence lists hold the listed visitors with their IM IDs, in row order.
    ASSERT_EQ(PresenceNames(), expectedNames);
    EXPECT_EQ(PresenceImIds().first(), QStringLiteral("id44"));
    EXPECT_EQ(PresenceImIds().last(), QStringLiteral("id15"));
}

TEST_F(UserListPage, ColumnsIconsAndPanesAreSetUp)
{
    CUserListDlg& page = ShownPage();
    CSortListCtrl* list = page.List();
    ASSERT_EQ(list->GetColumnCount(), 7);
    const QStringList names{"访客", "IP", "店铺", "最后访问时间", "次数", "所属地区", "商品地址"};
    const QList<int> widths{100, 100, 110, 120, 40, 100, 270};
    for (int column = 0; column < 7; ++column) {
        EXPECT_EQ(list->model()->headerData(column, Qt::Horizontal).toString(), names[column]);
        EXPECT_EQ(list->horizontalHeader()->sectionSize(column), widths[column]) << qPrintable(names[column]);
    }
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);

    // The list covers the page; the card pane and its button lie beneath it.
    EXPECT_EQ(list->geometry(), page.rect());
    auto* button = page.findChild<QPushButton*>(QStringLiteral("sendMessageButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("发送消息"));
    ASSERT_NE(page.findChild<QTextBrowser*>(QStringLiteral("visitorCardBrowser")), nullptr);
    const QObjectList& children = page.children();
    EXPECT_GT(children.indexOf(list), children.indexOf(button)) << "the list stacks above the button";
    EXPECT_GT(children.indexOf(list), children.indexOf(static_cast<QObject*>(page.Browser())));

    // Our own 16x16 online and offline icons, different from each other.
    ASSERT_TRUE(AddVisit(QStringLiteral("on"), QStringLiteral("s"), T(2)));
    ASSERT_TRUE(AddVisit(QStringLiteral("off"), QStringLiteral("s"), T(1)));
    SetOnline({QStringLiteral("on")});
    page.FillVisitorList();
    const QIcon online = list->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    const QIcon offline = list->model()->index(1, 0).data(Qt::DecorationRole).value<QIcon>();
    ASSERT_FALSE(online.isNull());
    ASSERT_FALSE(offline.isNull());
    EXPECT_EQ(online.pixmap(16, 16).size(), QSize(16, 16));
    EXPECT_NE(online.pixmap(16, 16).toImage(), offline.pixmap(16, 16).toImage());
}

TEST_F(UserListPage, OwnsTheIpReaderTheBridgeAndTheSessionManager)
{
    theSessionMan.SetRetention(CSessionMan::kInitialRetentionSeconds);
    const int workersBefore = CWorkerRegistry::RunningCount();
    {
        CUserListDlg& page = Page();
        EXPECT_EQ(g_pUserListDlg, &page);
        EXPECT_EQ(VisitorListBridge(), static_cast<IVisitorListBridge*>(&page));
        EXPECT_EQ(theSessionMan.Retention(), 3600);
        // The session thread registers itself once it runs.
        EXPECT_TRUE(WaitUntil([&] { return CWorkerRegistry::RunningCount() == workersBefore + 1; }, 5000));
        if (QFile::exists(QStringLiteral(MIREL_QQWRY_FILE))) {
            ASSERT_NE(page.IpLocator(), nullptr);
            EXPECT_TRUE(page.IpLocator()->IsOpen());
            EXPECT_NE(page.IpLocator()->Lookup(QStringLiteral("202.96.134.133")), QStringLiteral("没有查到相关信息"));
        }
    }
    m_page.reset();
    EXPECT_EQ(g_pUserListDlg, nullptr);
    EXPECT_EQ(VisitorListBridge(), nullptr) << "a gone page must not be reachable from workers";
    // Its session thread was told to end with it.
    EXPECT_TRUE(WaitUntil([&] { return CWorkerRegistry::RunningCount() == workersBefore; }, 5000));
}

struct COnlineCase
{
    const char* listed;
    const char* online;
    int image;
};

class UserListOnlineMark : public CUserListTest, public ::testing::WithParamInterface<COnlineCase>
{
};

TEST_P(UserListOnlineMark, OnlyTheExactNameCounts)
{
    const COnlineCase& c = GetParam();
    const QString listed = QString::fromUtf8(c.listed);
    ASSERT_TRUE(AddVisit(listed, QStringLiteral("s"), T(5), QStringLiteral("id-x")));
    ASSERT_TRUE(AddVisit(QStringLiteral("other"), QStringLiteral("s"), T(1), QStringLiteral("id-o")));
    CUserListDlg& page = Page();
    ASSERT_EQ(Column(0), (QStringList{listed, QStringLiteral("other")}));
    ASSERT_EQ(Images(), (QList<int>{1, 1}));

    // Through the presence request (made here on the window's thread: it must not wait on itself).
    SetOnline({QString::fromUtf8(c.online)});
    page.RequestMarkOnline();
    EXPECT_EQ(Images(), (QList<int>{c.image, 1}));
    EXPECT_EQ(page.IsOnline(listed), c.image == 0);

    // And at a refill.
    page.FillVisitorList();
    EXPECT_EQ(Images(), (QList<int>{c.image, 1}));

    // Offline again once the name leaves the online list.
    SetOnline({});
    page.MarkOnlineVisitors();
    EXPECT_EQ(Images(), (QList<int>{1, 1}));
}

INSTANTIATE_TEST_SUITE_P(Cases, UserListOnlineMark,
                         ::testing::Values(COnlineCase{"Alice", "Alice", 0}, COnlineCase{"Alice", "alice", 1},
                                           COnlineCase{"alice", "ALICE", 1}, COnlineCase{"Alice", "Alice ", 1},
                                           COnlineCase{"Alice", " Alice", 1}, COnlineCase{"Alic", "Alice", 1},
                                           COnlineCase{"张三", "张三", 0}, COnlineCase{"O'Neil", "O'Neil", 0}));

TEST_F(UserListPage, AVisitorOfTwoShopsIsTwoRowsAndOnePresenceEntry)
{
    ASSERT_TRUE(AddVisit(QStringLiteral("bob"), QStringLiteral("shop-a"), T(30), QStringLiteral("bob-first")));
    ASSERT_TRUE(AddVisit(QStringLiteral("carol"), QStringLiteral("shop-a"), T(20), QStringLiteral("carol-id")));
    ASSERT_TRUE(AddVisit(QStringLiteral("bob"), QStringLiteral("shop-b"), T(10), QStringLiteral("bob-second")));
    // A name differing in case is another visitor.
    ASSERT_TRUE(AddVisit(QStringLiteral("Bob"), QStringLiteral("shop-b"), T(5), QStringLiteral("Bob-id")));

    Page();
    EXPECT_EQ(Column(0), (QStringList{"bob", "carol", "bob", "Bob"}));
    EXPECT_EQ(Column(2), (QStringList{"shop-a", "shop-a", "shop-b", "shop-b"}));
    EXPECT_EQ(PresenceNames(), (QStringList{"bob", "carol", "Bob"}));
    EXPECT_EQ(PresenceImIds(), (QStringList{"bob-first", "carol-id", "Bob-id"}));

    // Both rows of an online visitor carry the mark.
    SetOnline({QStringLiteral("bob")});
    m_page->MarkOnlineVisitors();
    EXPECT_EQ(Images(), (QList<int>{0, 1, 0, 1}));

    // "删除该客户的全部记录": asked first; Yes takes the visitor's rows of every shop, nobody else's.
    for (const int answer : {kIdNo, kIdYes}) {
        QStringList asked;
        const MessageBoxHandler previous =
            SetMessageBoxHandler([&](const QString& text, const QString&, EMsgIcon, EMsgButtons buttons) {
                asked << text;
                return buttons == EMsgButtons::YesNo ? answer : kIdOk;
            });
        EXPECT_EQ(m_page->OnDeleteVisitorEverywhere(QStringLiteral("bob")), answer == kIdYes);
        SetMessageBoxHandler(previous);
        EXPECT_EQ(asked, QStringList{CUserListDlg::DeleteVisitorQuestion(QStringLiteral("bob"))});
        EXPECT_EQ(Column(0),
                  answer == kIdYes ? (QStringList{"carol", "Bob"}) : (QStringList{"bob", "carol", "bob", "Bob"}));
    }
}

TEST_F(UserListPage, ARefillPutsTheSelectionMarkOnTheFirstRow)
{
    CUserListDlg& page = ShownPage();
    EXPECT_EQ(page.List()->GetSelectionMark(), -1) << "an empty list has no mark";
    EXPECT_TRUE(PresenceNames().isEmpty());

    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(AddVisit(QStringLiteral("v%1").arg(i), QStringLiteral("s"), T(i), QStringLiteral("id%1").arg(i)));
    PageFactory().refreshUserListPage(&page);
    ASSERT_EQ(page.List()->GetItemCount(), 5);
    EXPECT_EQ(page.List()->GetSelectionMark(), 0);

    // A click moves the mark; the page remembers it; a refill puts it back on row 0.
    const QRect cell = page.List()->visualRect(page.List()->model()->index(3, 1));
    QTest::mouseClick(page.List()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(page.List()->GetSelectionMark(), 3);
    EXPECT_EQ(page.LastSelection(), 3);
    ASSERT_TRUE(AddVisit(QStringLiteral("newest"), QStringLiteral("s"), T(99)));
    page.FillVisitorList();
    EXPECT_EQ(page.List()->GetItemText(0, 0), QStringLiteral("newest"));
    EXPECT_EQ(page.List()->GetSelectionMark(), 0);

    // A query that does not open leaves the list and the presence lists empty.
    CloseStore();
    page.FillVisitorList();
    EXPECT_EQ(page.List()->GetItemCount(), 0);
    EXPECT_EQ(page.List()->GetSelectionMark(), -1);
    EXPECT_TRUE(PresenceNames().isEmpty());
    EXPECT_TRUE(PresenceImIds().isEmpty());
}

// Counts key presses that leave the page for its parent.
class CKeyCounter : public QObject
{
public:
    int presses = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress)
            ++presses;
        return QObject::eventFilter(watched, event);
    }
};

TEST_F(UserListPage, EnterAndEscDoNothing)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(AddVisit(QStringLiteral("v%1").arg(i), QStringLiteral("s"), T(i)));
    QWidget host;
    host.resize(1000, 700);
    CKeyCounter counter;
    host.installEventFilter(&counter);
    m_page = std::make_unique<CUserListDlg>(&host);
    CUserListDlg& page = *m_page;
    page.setGeometry(host.rect());
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    page.List()->setFocus();
    page.List()->SetSelectionMark(1);

    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(page.List(), key);
        QTest::keyClick(&page, key);
    }
    EXPECT_EQ(counter.presses, 0) << "the keys went past the page";
    EXPECT_TRUE(page.isVisible());
    EXPECT_EQ(page.List()->GetItemCount(), 3);
    EXPECT_EQ(page.List()->GetSelectionMark(), 1);
    EXPECT_TRUE(Launches().empty());
    EXPECT_EQ(m_messages.Count(), 0u);

    // Closing the page is refused too.
    EXPECT_FALSE(page.close());
    EXPECT_TRUE(page.isVisible());
    m_page.reset();
}

TEST_F(UserListPage, WorkersRequestsRunOnTheWindowsThreadAndReturn)
{
    ASSERT_TRUE(AddVisit(QStringLiteral("first"), QStringLiteral("s"), T(1), QStringLiteral("id-1")));
    CUserListDlg& page = Page();
    ASSERT_EQ(page.List()->GetItemCount(), 1);

    QThread* filledOn = nullptr;
    QThread* markedOn = nullptr;
    QObject::connect(
        &page, &CUserListDlg::VisitorListFilled, &page, [&] { filledOn = QThread::currentThread(); },
        Qt::DirectConnection);
    QObject::connect(
        &page, &CUserListDlg::OnlineMarked, &page, [&] { markedOn = QThread::currentThread(); }, Qt::DirectConnection);

    // A monitoring thread's refill after recording a new visitor: it returns
    // only after the list shows the visitor.
    std::atomic<int> rowsSeenByWorker{-1};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        AddVisit(QStringLiteral("second"), QStringLiteral("s"), T(2), QStringLiteral("id-2"));
        VisitorListBridge()->RequestRefill();
        // The fill is complete by now; reading the presence lists under their lock is what the presence thread does.
        {
            std::lock_guard lock(VisitorListBridge()->PresenceLists().lock);
            rowsSeenByWorker.store(static_cast<int>(VisitorListBridge()->PresenceLists().names.size()));
            VisitorListBridge()->PresenceLists().onlineNames = QStringList{QStringLiteral("second")};
        }
        VisitorListBridge()->RequestMarkOnline();
        done.store(true);
    });
    const bool returned = WaitUntil([&] { return done.load(); }, 10000);
    worker.join();
    ASSERT_TRUE(returned);
    EXPECT_EQ(rowsSeenByWorker.load(), 2);
    EXPECT_EQ(Column(0), (QStringList{"second", "first"}));
    EXPECT_EQ(Images(), (QList<int>{0, 1}));
    EXPECT_EQ(filledOn, page.thread());
    EXPECT_EQ(markedOn, page.thread());

    // The same requests made on the window's thread run at once instead of waiting on themselves.
    ASSERT_TRUE(AddVisit(QStringLiteral("third"), QStringLiteral("s"), T(3)));
    filledOn = nullptr;
    page.RequestRefill();
    EXPECT_EQ(filledOn, page.thread());
    EXPECT_EQ(page.List()->GetItemCount(), 3);
}

} // namespace
