// hichat, the local chat client the greeting sender drives: registration as
// the lumochat link handler, one instance, one window per peer, the send keys,
// the close request and the message log.
#include "support/TestMain.h"

#include "greet/Greeting.h"
#include "greet/ImClient.h"
#include "platform/XInput.h"
#include "platform/XWindows.h"
#include "support/Hichat.h"
#include "support/XvfbSession.h"

#include <QFile>
#include <QProcess>

#include <X11/keysym.h>

namespace {

int CountChatWindows(_XDisplay* display, const QString& peer)
{
    std::vector<CTaskManage> list;
    EnumTopWindows(display, list);
    int count = 0;
    for (const CTaskManage& task : list)
        count += task.m_className == QStringLiteral("BaseGui") && task.m_title.contains(peer) ? 1 : 0;
    return count;
}

} // namespace

class HichatTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs an X display (ctest runs it in xvfb-run)";
        ASSERT_TRUE(m_x);
        ASSERT_TRUE(m_hichat.Register()) << qPrintable(m_hichat.Error());
    }

    unsigned long WaitForChatWindow(const QString& peer)
    {
        unsigned long chat = 0;
        WaitUntil(
            [&] {
                chat = FindChatWindow(m_x.get(), peer);
                return chat != 0 && IsWindowViewable(chat);
            },
            10000);
        return chat;
    }

    CHichatSession m_hichat;
    CXConnection m_x;
};

TEST_F(HichatTest, RegistrationMakesItTheLumoChatLinkHandler)
{
    QFile desktop(m_hichat.DataHome() + QStringLiteral("/applications/hichat.desktop"));
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(desktop.readAll());
    EXPECT_TRUE(entry.contains(QStringLiteral("\nExec=") + CHichatSession::ProgramPath() + QStringLiteral(" %u\n")))
        << qPrintable(entry);
    EXPECT_TRUE(entry.contains(QStringLiteral("\nMimeType=x-scheme-handler/lumochat;")));

    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/lumochat")});
    ASSERT_TRUE(query.waitForFinished(10000));
    EXPECT_EQ(QString::fromUtf8(query.readAllStandardOutput()).trimmed(), QStringLiteral("hichat.desktop"));
    EXPECT_TRUE(QFile::exists(m_hichat.ConfigHome() + QStringLiteral("/mimeapps.list")));
}

TEST_F(HichatTest, TheDesktopStartsTheClientWhenNoneRuns)
{
    ASSERT_FALSE(m_hichat.IsRunning());
    const QString text = ExpandGreeting(QStringLiteral("你好 [username] [randomcode]"), QStringLiteral("王五"));
    EXPECT_EQ(SendGreeting(QStringLiteral("店主"), QStringLiteral("王五"), text), 1);
    ASSERT_TRUE(m_hichat.WaitForMessages(1, 10000));
    EXPECT_EQ(m_hichat.Messages().value(0).value(QStringLiteral("text")).toString(), text);
    EXPECT_TRUE(m_hichat.IsRunning()) << "the client started for the link keeps running";
    m_hichat.Stop();
    EXPECT_FALSE(m_hichat.IsRunning());
}

TEST_F(HichatTest, OneWindowPerPeerAndLaterLinksRaiseIt)
{
    ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
    ASSERT_EQ(m_hichat.OpenLink(ChatLink(QStringLiteral("店主"), QStringLiteral("赵六"))), 0);
    ASSERT_NE(WaitForChatWindow(QStringLiteral("赵六")), 0u);
    ASSERT_EQ(m_hichat.OpenLink(ChatLink(QStringLiteral("店主"), QStringLiteral("赵六"))), 0);
    // Escaped values are decoded: %E6%9D%8E%E5%9B%9B is 李四.
    ASSERT_EQ(m_hichat.OpenLink(QStringLiteral("lumochat://message/?sid=s&id=%E6%9D%8E%E5%9B%9B&clk=icon")), 0);
    ASSERT_NE(WaitForChatWindow(QStringLiteral("李四")), 0u);
    EXPECT_EQ(CountChatWindows(m_x.get(), QStringLiteral("赵六")), 1);
    EXPECT_EQ(CountChatWindows(m_x.get(), QStringLiteral("李四")), 1);
}

TEST_F(HichatTest, EnterSendsShiftEnterBreaksTheLineAndAnEmptyInputSendsNothing)
{
    ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
    ASSERT_EQ(m_hichat.OpenLink(ChatLink(QStringLiteral("店主"), QStringLiteral("孙七"))), 0);
    const unsigned long chat = WaitForChatWindow(QStringLiteral("孙七"));
    ASSERT_NE(chat, 0u);
    FocusWindow(chat);
    int left = 0, top = 0, right = 0, bottom = 0;
    ASSERT_TRUE(WindowFrame(chat, left, top, right, bottom));
    ClickAt(QPoint(left + 50, bottom - 50));

    _XDisplay* d = m_x.get();
    PressKeys(d, XK_h);
    PressKeys(d, XK_i);
    PressKeys(d, XK_Shift_L, XK_Return);
    PressKeys(d, XK_y);
    PressKeys(d, XK_o);
    PressKeys(d, XK_Control_L, XK_Return);
    PressKeys(d, XK_Return);
    PressKeys(d, XK_Control_L, XK_Return);
    PressKeys(d, XK_o);
    PressKeys(d, XK_k);
    PressKeys(d, XK_KP_Enter);

    ASSERT_TRUE(m_hichat.WaitForMessages(2, 10000));
    // Everything typed has been handled once the close request, sent last, is.
    RequestClose(chat);
    ASSERT_TRUE(WaitUntil([&] { return FindChatWindow(m_x.get(), QStringLiteral("孙七")) == 0; }, 10000));
    const QList<QJsonObject> messages = m_hichat.Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].value(QStringLiteral("text")).toString(), QStringLiteral("hi\nyo"));
    EXPECT_EQ(messages[0].value(QStringLiteral("sid")).toString(), QStringLiteral("店主"));
    EXPECT_EQ(messages[0].value(QStringLiteral("id")).toString(), QStringLiteral("孙七"));
    EXPECT_FALSE(messages[0].value(QStringLiteral("time")).toString().isEmpty());
    EXPECT_EQ(messages[1].value(QStringLiteral("text")).toString(), QStringLiteral("ok"));
}

TEST_F(HichatTest, CloseRequestClosesTheChatButNotTheClient)
{
    ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
    ASSERT_EQ(m_hichat.OpenLink(ChatLink(QStringLiteral("店主"), QStringLiteral("周八"))), 0);
    const unsigned long chat = WaitForChatWindow(QStringLiteral("周八"));
    ASSERT_NE(chat, 0u);
    RequestClose(chat);
    EXPECT_TRUE(WaitUntil([&] { return FindChatWindow(m_x.get(), QStringLiteral("周八")) == 0; }, 10000));
    EXPECT_TRUE(m_hichat.IsRunning());
    ASSERT_EQ(m_hichat.OpenLink(ChatLink(QStringLiteral("店主"), QStringLiteral("周八"))), 0);
    EXPECT_NE(WaitForChatWindow(QStringLiteral("周八")), 0u);
}

TEST_F(HichatTest, LinksWithoutAPeerAreRefused)
{
    ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
    for (const QString& link :
         {QStringLiteral("lumochat://message/?sid=店主"), QStringLiteral("lumochat://message/"),
          QStringLiteral("http://127.0.0.1/?id=吴九"), QStringLiteral("lumochat://message/?id=")}) {
        EXPECT_NE(m_hichat.OpenLink(link), 0) << qPrintable(link);
    }
    EXPECT_EQ(CountChatWindows(m_x.get(), QString()), 0);
    EXPECT_TRUE(m_hichat.IsRunning());
}

TEST_F(HichatTest, OneInstancePerNameAndAStaleSocketIsTakenOver)
{
    ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
    const int second =
        QProcess::execute(CHichatSession::ProgramPath(),
                          {QStringLiteral("--foreground"), QStringLiteral("--instance"), m_hichat.InstanceName()});
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(m_hichat.IsRunning());

    m_hichat.Kill();
    EXPECT_FALSE(m_hichat.IsRunning());
    ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
    EXPECT_TRUE(m_hichat.IsRunning());
}
