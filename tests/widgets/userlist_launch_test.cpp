// Double-clicks on the visitor list (chat or item page) and the visitor card.
#include "support/TestMain.h"
#include "support/WaitUntil.h"
#include "userlist_fixture.h"

#include "monitor/ui/Explorer_showuserinfo.h"
#include "monitor/ui/ProfileCard.h"
#include "net/HttpText.h"
#include "platform/Endpoints.h"
#include "platform/MessageBox.h"
#include "support/LocalService.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace {

const QString kChatLinkForm = QStringLiteral("lumochat://message/?sid=%1&id=%2&clk=icon&src=space&browser=IE");

class UserListLaunch : public CUserListTest
{
protected:
    void SetUp() override
    {
        CUserListTest::SetUp();
        ASSERT_TRUE(AddVisit(QStringLiteral("alice"), QStringLiteral("shop-a"), T(30), QStringLiteral("id-a"),
                             QStringLiteral("http://127.0.0.1:8781/item/7")));
        ASSERT_TRUE(AddVisit(QStringLiteral("bob&co"), QStringLiteral("店铺b"), T(20), QStringLiteral("id-b")));
        ASSERT_TRUE(AddVisit(QStringLiteral("carol"), QStringLiteral("shop-c"), T(10), QStringLiteral("id-c"),
                             QStringLiteral("https://secure.example/1")));
        ShownPage();
        ASSERT_EQ(m_page->List()->GetItemCount(), 3);
    }

    // Double-clicks a chat cell of row 0 and waits until its launch has ended: a
    // fence after which every earlier double-click has shown what it does.
    void Fence()
    {
        const size_t before = Launches().size();
        QSignalSpy finished(m_page.get(), &CUserListDlg::ChatLaunchFinished);
        DoubleClickCell(0, 1);
        ASSERT_TRUE(finished.count() > 0 || finished.wait(10000));
        ASSERT_EQ(Launches().size(), before + 1);
    }
};

struct CDoubleClickCase
{
    int row;
    int column;
    // Empty: nothing is started.
    const char* address;
    bool chat;
};

class UserListDoubleClick : public UserListLaunch, public ::testing::WithParamInterface<CDoubleClickCase>
{
};

TEST_P(UserListDoubleClick, StartsWhatTheCellCallsFor)
{
    const CDoubleClickCase& c = GetParam();
    QSignalSpy finished(m_page.get(), &CUserListDlg::ChatLaunchFinished);
    DoubleClickCell(c.row, c.column);
    if (c.chat) {
        ASSERT_TRUE(finished.wait(10000)) << "the chat launch did not end";
    }
    const std::vector<CLaunchRequest> launches = Launches();
    const QString address = QString::fromUtf8(c.address);
    if (address.isEmpty()) {
        // Nothing now, and nothing later: a chat launch made after it is the only one.
        EXPECT_TRUE(launches.empty());
        Fence();
        EXPECT_EQ(Launches().size(), 1u);
        EXPECT_EQ(m_messages.Count(), 0u);
        return;
    }
    ASSERT_EQ(launches.size(), 1u);
    const CLaunchRequest& request = launches.front();
    EXPECT_EQ(request.program, QStringLiteral("xdg-open"));
    EXPECT_EQ(request.arguments, QStringList{address});
    // A chat starts hidden and is ended after at most 10 s; an item page shows and is not waited for.
    EXPECT_EQ(request.hidden, c.chat);
    EXPECT_EQ(request.waitMs, c.chat ? 10000 : 0);
    EXPECT_EQ(m_messages.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, UserListDoubleClick,
    ::testing::Values(
        // The item address column opens the item page, when it is an http or https one.
        CDoubleClickCase{0, 6, "http://127.0.0.1:8781/item/7", false}, CDoubleClickCase{1, 6, "", false},
        CDoubleClickCase{2, 6, "https://secure.example/1", false},
        // Every other column asks for a chat with that row's visitor for that row's shop ("&" encoded).
        CDoubleClickCase{0, 0, "lumochat://message/?sid=shop-a&id=alice&clk=icon&src=space&browser=IE", true},
        CDoubleClickCase{1, 2, "lumochat://message/?sid=店铺b&id=bob%26co&clk=icon&src=space&browser=IE", true},
        CDoubleClickCase{1, 5, "lumochat://message/?sid=店铺b&id=bob%26co&clk=icon&src=space&browser=IE", true},
        CDoubleClickCase{2, 3, "lumochat://message/?sid=shop-c&id=carol&clk=icon&src=space&browser=IE", true}));

TEST_F(UserListLaunch, BelowTheLastRowNothingHappens)
{
    CSortListCtrl* list = m_page->List();
    const QRect last = list->visualRect(list->model()->index(2, 0));
    const QPoint below(last.center().x(), last.bottom() + 40);
    ASSERT_TRUE(list->viewport()->rect().contains(below));
    ASSERT_FALSE(list->indexAt(below).isValid());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
    Fence();
    EXPECT_EQ(Launches().size(), 1u);
}

TEST_F(UserListLaunch, AChatThatCannotStartSaysSo)
{
    m_launchResult.store(false);
    QSignalSpy finished(m_page.get(), &CUserListDlg::ChatLaunchFinished);
    DoubleClickCell(2, 0);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_FALSE(finished.first().first().toBool());
    const std::vector<CShownMessage> shown = m_messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QStringLiteral("调用出错,请确认已经安装了IE!"));
    EXPECT_EQ(shown[0].caption, AppTitle());
    EXPECT_EQ(shown[0].icon, EMsgIcon::Exclamation);

    // An item page that cannot be opened is not reported.
    DoubleClickCell(0, 6);
    EXPECT_EQ(m_messages.Count(), 1u);
}

TEST_F(UserListLaunch, TheWindowDoesNotWaitForTheChatHandler)
{
    // A link handler that keeps running until the test lets it go.
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    SetLaunchHook([&] {
        entered.store(true);
        for (int i = 0; i < 2000 && !release.load(); ++i)
            QThread::msleep(5);
    });
    QSignalSpy finished(m_page.get(), &CUserListDlg::ChatLaunchFinished);
    DoubleClickCell(1, 0);
    ASSERT_TRUE(WaitUntil([&] { return entered.load(); }, 5000));
    // The handler still runs, and the window goes on working meanwhile.
    EXPECT_EQ(finished.count(), 0);
    ASSERT_TRUE(AddVisit(QStringLiteral("during"), QStringLiteral("s"), T(99)));
    m_page->FillVisitorList();
    EXPECT_EQ(m_page->List()->GetItemText(0, 0), QStringLiteral("during"));
    release.store(true);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(finished.first().first().toBool());
    EXPECT_EQ(m_messages.Count(), 0u);
}

// The links of a document: their text and address (consecutive pieces with one address are one link).
QList<QPair<QString, QString>> Anchors(const QTextDocument* document)
{
    QList<QPair<QString, QString>> anchors;
    QString lastHref;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString href = fragment.charFormat().anchorHref();
            if (!href.isEmpty() && href == lastHref)
                anchors.last().first += fragment.text();
            else if (!href.isEmpty())
                anchors.append({fragment.text(), href});
            lastHref = href;
        }
    }
    return anchors;
}

QString AnchorHref(const QTextDocument* document, const QString& text)
{
    for (const auto& anchor : Anchors(document)) {
        if (anchor.first.contains(text))
            return anchor.second;
    }
    return QString();
}

TEST_F(UserListLaunch, TheCardShowsTheMarkedVisitorEvenWithMarkupInTheName)
{
    CEndpoints endpoints;
    endpoints.imMessagePage = QStringLiteral("http://127.0.0.1:1/msg");
    endpoints.imProfileBase = QStringLiteral("http://127.0.0.1:1");
    endpoints.imPortraitBase = QStringLiteral("http://127.0.0.1:2");
    endpoints.imImageBase = QStringLiteral("http://127.0.0.1:3");
    SetEndpoints(endpoints);

    const QString name = QStringLiteral("<b>x</b>&\"q\" 李");
    ASSERT_TRUE(AddVisit(name, QStringLiteral("shop-z"), T(100), QStringLiteral("pid<7>")));
    m_page->FillVisitorList();
    ASSERT_EQ(m_page->List()->GetItemText(0, 0), name);
    ASSERT_EQ(m_page->List()->GetSelectionMark(), 0);

    auto* button = m_page->findChild<QPushButton*>(QStringLiteral("sendMessageButton"));
    ASSERT_NE(button, nullptr);
    button->click();

    const QTextDocument* document = m_page->Browser()->document();
    const QString text = document->toPlainText();
    // The name shows as text, whole: no markup of it took effect.
    EXPECT_TRUE(text.contains(name)) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("上次登录：")));
    EXPECT_TRUE(text.contains(QStringLiteral("岁")));
    for (const char* label : {"加为好友", "送他礼物", "发送消息", "给他留言"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(label))) << label;

    // In the code page, like every request to the IM service: "李" is GBK C0 EE.
    const QString encodedName = QStringLiteral("%3Cb%3Ex%3C%2Fb%3E%26%22q%22%20%C0%EE");
    EXPECT_EQ(AnchorHref(document, QStringLiteral("发送消息")),
              QStringLiteral("http://127.0.0.1:1/msg?ct=21&cm=1&tn=bmSendMessage&un=") + encodedName);
    EXPECT_EQ(AnchorHref(document, QStringLiteral("给他留言")),
              QStringLiteral("http://127.0.0.1:1/") + encodedName + QStringLiteral("/board"));
    // The portrait is the visitor's, by its IM ID; the icons come from the image host.
    const QString html = m_page->Browser()->Html();
    EXPECT_TRUE(html.contains(QStringLiteral("http://127.0.0.1:2/sys/portrait/item/pid%3C7%3E.jpg")));
    EXPECT_TRUE(html.contains(QStringLiteral("http://127.0.0.1:3/icons/")));
    EXPECT_TRUE(html.contains(QStringLiteral("id=\"m_pro\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("id=\"send-message-link\"")));
    EXPECT_FALSE(html.contains(name)) << "the name went in unescaped";

    // Another row marked: the card follows it.
    m_page->List()->SetSelectionMark(2);
    m_page->ShowProfileCard();
    const QString second = m_page->List()->GetItemText(2, 0);
    EXPECT_EQ(AnchorHref(m_page->Browser()->document(), QStringLiteral("给他留言")),
              QStringLiteral("http://127.0.0.1:1/") + ToQueryValue(second) + QStringLiteral("/board"));
    SetEndpoints(CEndpoints());
}

TEST(UserListCard, SampleValuesAreNeutralAndTheAddressesFollowTheBases)
{
    CEndpoints endpoints;
    endpoints.imPortraitBase = QStringLiteral("http://p.test");
    endpoints.imMessagePage = QStringLiteral("http://m.test/page");
    endpoints.imProfileBase = QStringLiteral("http://b.test");
    const CProfileCard withId = SampleProfileCard(QStringLiteral("a b"), QStringLiteral("abc123"));
    // "张三" in GBK, never UTF-8 (which the service would read as "寮犱笁").
    EXPECT_EQ(ProfileCardBoardUrl(SampleProfileCard(QStringLiteral("张三"), QString()), endpoints),
              QStringLiteral("http://b.test/%D5%C5%C8%FD/board"));
    EXPECT_EQ(ProfileCardPortraitUrl(withId, endpoints), QStringLiteral("http://p.test/sys/portrait/item/abc123.jpg"));
    EXPECT_EQ(ProfileCardMessageUrl(withId, endpoints),
              QStringLiteral("http://m.test/page?ct=21&cm=1&tn=bmSendMessage&un=a%20b"));
    EXPECT_EQ(ProfileCardBoardUrl(withId, endpoints), QStringLiteral("http://b.test/a%20b/board"));
    // Without an IM ID the card still has a portrait address.
    const CProfileCard withoutId = SampleProfileCard(QStringLiteral("a"), QString());
    EXPECT_TRUE(ProfileCardPortraitUrl(withoutId, endpoints).endsWith(QStringLiteral(".jpg")));
    EXPECT_NE(ProfileCardPortraitUrl(withoutId, endpoints), QStringLiteral("http://p.test/sys/portrait/item/.jpg"));
    // Sample values never pretend to be the visitor's.
    for (const QString& value : {withId.sex, withId.age, withId.province, withId.district, withId.lastLogin})
        EXPECT_FALSE(value.isEmpty());
}

TEST_F(UserListLaunch, TheCardsPicturesComeFromTheServiceWithoutBlockingTheWindow)
{
    CLocalService service;
    ASSERT_TRUE(service.Start()) << qPrintable(service.Error());
    service.ApplyEndpoints();
    CExplorer_showuserinfo* browser = m_page->Browser();
    QSignalSpy arrived(browser, &CExplorer_showuserinfo::ImageArrived);
    m_page->ShowProfileCard();
    // The portrait and the three icons.
    ASSERT_TRUE(WaitUntil([&] { return arrived.count() >= 4; }, 20000)) << arrived.count();
    for (const auto& signal : arrived)
        EXPECT_TRUE(signal.at(1).toBool()) << qPrintable(signal.at(0).toString());
    const CProfileCard card = SampleProfileCard(QStringLiteral("alice"), QStringLiteral("id-a"));
    EXPECT_TRUE(browser->HasImage(ProfileCardPortraitUrl(card, service.MakeEndpoints())));
    // Shown again, the pictures are not fetched again.
    m_page->ShowProfileCard();
    QCoreApplication::processEvents();
    EXPECT_EQ(arrived.count(), 4);
    SetEndpoints(CEndpoints());
}

} // namespace
