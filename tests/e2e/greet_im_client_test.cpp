// The greeting sender against the real hichat under Xvfb: the link goes
// through xdg-open to the registered handler, the chat window is found,
// clicked, pasted into, sent and closed, with and without a window manager.
#include "support/TestMain.h"

#include "accounts/LiveSettings.h"
#include "greet/AutoSendMsgThread.h"
#include "greet/Greeting.h"
#include "greet/ImClient.h"
#include "platform/ClipboardOwner.h"
#include "platform/Clock.h"
#include "platform/Launcher.h"
#include "platform/XWindows.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"
#include "support/Hichat.h"
#include "support/StoreTestSupport.h"
#include "support/XvfbSession.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <X11/Xlib.h>

void PrintTo(const QPoint& point, std::ostream* os)
{
    *os << "(" << point.x() << ", " << point.y() << ")";
}

namespace {

enum class EDesktop
{
    Bare,
    Managed
};

std::string DesktopName(const ::testing::TestParamInfo<EDesktop>& info)
{
    return info.param == EDesktop::Managed ? "WithWindowManager" : "WithoutWindowManager";
}

// Records what would be launched and starts nothing.
class CLaunchRecorder
{
public:
    explicit CLaunchRecorder(std::function<void()> onLaunch = {})
    {
        m_previous = SetLaunchHandler([this, onLaunch](const CLaunchRequest& request) {
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            if (onLaunch)
                onLaunch();
            return true;
        });
    }
    ~CLaunchRecorder() { SetLaunchHandler(m_previous); }
    std::vector<CLaunchRequest> Requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    std::mutex m_mutex;
    std::vector<CLaunchRequest> m_requests;
    LaunchHandler m_previous;
};

// Sleeps return at once and are counted by length.
class CCountingClock final : public IClock
{
public:
    void SleepMs(int ms) override
    {
        std::lock_guard lock(m_mutex);
        m_sleeps.push_back(ms);
    }
    qint64 NowMs() override { return 0; }
    int Count(int ms)
    {
        std::lock_guard lock(m_mutex);
        return int(std::count(m_sleeps.begin(), m_sleeps.end(), ms));
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_sleeps;
};

const QString kAccount = QStringLiteral("小王的店铺");
const QString kVisitor = QStringLiteral("张三丰");

QString TrickyGreeting(const QString& visitor)
{
    return ExpandGreeting(QStringLiteral("亲爱的 [username]，欢迎光临 😀 <b>&amp;</b> it's \"ok\" [randomcode]"),
                          visitor);
}

} // namespace

class GreetDesktopTest : public ::testing::TestWithParam<EDesktop>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs an X display (ctest runs it in xvfb-run)";
        ASSERT_FALSE(CWindowManager::Managed()) << "another window manager runs on this display";
        if (GetParam() == EDesktop::Managed) {
            ASSERT_TRUE(m_windowManager.Start());
        }
        ASSERT_TRUE(m_hichat.Register()) << qPrintable(m_hichat.Error());
        ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
    }

    void TearDown() override
    {
        m_hichat.Stop();
        m_windowManager.Stop();
    }

    // Waits until hichat shows the visitor's chat window; 0 when it does not.
    unsigned long WaitForChatWindow(const QString& visitor)
    {
        unsigned long chat = 0;
        WaitUntil(
            [&] {
                chat = FindChatWindow(m_x.get(), visitor);
                return chat != 0 && IsWindowViewable(chat);
            },
            10000);
        return chat;
    }

    CWindowManager m_windowManager;
    CHichatSession m_hichat;
    CXConnection m_x;
};

TEST_P(GreetDesktopTest, DeliversTheExactTextOnceAndPutsTheCursorBack)
{
    const QString text = TrickyGreeting(kVisitor);
    WarpPointer(QPoint(1001, 13));
    const QPoint before = PointerPosition();

    EXPECT_EQ(SendGreeting(kAccount, kVisitor, text), 1);

    EXPECT_EQ(PointerPosition(), before);
    ASSERT_TRUE(m_hichat.WaitForMessages(1, 10000));
    // The close request comes after the keys, so once the window is gone every key has been handled.
    EXPECT_TRUE(WaitUntil([&] { return FindChatWindow(m_x.get(), kVisitor) == 0; }, 10000));
    const QList<QJsonObject> messages = m_hichat.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].value(QStringLiteral("text")).toString(), text);
    EXPECT_EQ(messages[0].value(QStringLiteral("id")).toString(), kVisitor);
    EXPECT_EQ(messages[0].value(QStringLiteral("sid")).toString(), kAccount);
    EXPECT_TRUE(m_hichat.IsRunning()) << "closing the chat window must not end the client";

    // Names that would cut or change a link value each get the greeting in their own chat.
    const QString account = QStringLiteral("王 & 店#1");
    const QStringList names{QStringLiteral("a&b=c"), QStringLiteral("50%off"), QStringLiteral("x#y"),
                            QStringLiteral("a+b")};
    QStringList texts;
    for (int i = 0; i < names.size(); ++i) {
        texts.append(TrickyGreeting(names[i]));
        EXPECT_EQ(SendGreeting(account, names[i], texts[i]), 1) << qPrintable(names[i]);
        ASSERT_TRUE(m_hichat.WaitForMessages(2 + i, 10000)) << qPrintable(names[i]);
    }
    const QList<QJsonObject> all = m_hichat.Messages();
    ASSERT_EQ(all.size(), 1 + names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        EXPECT_EQ(all[i + 1].value(QStringLiteral("id")).toString(), names[i]);
        EXPECT_EQ(all[i + 1].value(QStringLiteral("sid")).toString(), account);
        EXPECT_EQ(all[i + 1].value(QStringLiteral("text")).toString(), texts[i]);
    }
}

TEST_P(GreetDesktopTest, MinimisedChatWindowIsRestoredAndGreeted)
{
    ASSERT_EQ(m_hichat.OpenLink(ChatLink(kAccount, kVisitor)), 0);
    const unsigned long chat = WaitForChatWindow(kVisitor);
    ASSERT_NE(chat, 0u);
    MinimiseWindow(chat);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowViewable(chat); }, 5000)) << "the window did not minimise";
    EXPECT_TRUE(IsWindowMinimised(chat));

    // The link reaches the client, which brings its window back for it.
    CLaunchRecorder launches([this] { m_hichat.OpenLink(ChatLink(kAccount, kVisitor)); });
    const QString text = TrickyGreeting(kVisitor);
    const QPoint before = PointerPosition();
    EXPECT_EQ(SendGreeting(kAccount, kVisitor, text), 1);
    EXPECT_EQ(PointerPosition(), before);

    ASSERT_TRUE(m_hichat.WaitForMessages(1, 10000)) << "keys went nowhere: the window was not restored";
    EXPECT_EQ(m_hichat.Messages().value(0).value(QStringLiteral("text")).toString(), text);
    const std::vector<CLaunchRequest> requests = launches.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].program, QStringLiteral("xdg-open"));
    EXPECT_EQ(requests[0].arguments, QStringList{ChatLink(kAccount, kVisitor)});
    EXPECT_TRUE(requests[0].hidden);
    EXPECT_EQ(requests[0].waitMs, 10000);
}

TEST_P(GreetDesktopTest, LongGreetingArrivesWhole)
{
    // Far beyond the 1024 bytes the clipboard step once had room for.
    QString text;
    for (int i = 0; text.size() < 6000; ++i)
        text += QStringLiteral("第%1句：欢迎光临小店 🎉 <&>'；").arg(i);
    EXPECT_EQ(SendGreeting(kAccount, kVisitor, text), 1);
    ASSERT_TRUE(m_hichat.WaitForMessages(1, 10000));
    EXPECT_EQ(m_hichat.Messages().value(0).value(QStringLiteral("text")).toString(), text);
}

INSTANTIATE_TEST_SUITE_P(Desktops, GreetDesktopTest, ::testing::Values(EDesktop::Bare, EDesktop::Managed), DesktopName);

class GreetBareDesktopTest : public GreetDesktopTest
{
};

TEST_P(GreetBareDesktopTest, NoChatWindowGivesZeroAfterFiftyOneSearches)
{
    CCountingClock clock;
    SetClock(&clock);
    CLaunchRecorder launches;
    const int result = SendGreeting(kAccount, QStringLiteral("没有窗口的访客"), QStringLiteral("你好"));
    SetClock(nullptr);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(clock.Count(500), 51);
    EXPECT_EQ(clock.Count(1000), 0) << "nothing may be sent";
    EXPECT_EQ(launches.Requests().size(), 1u);
    EXPECT_TRUE(m_hichat.Messages().isEmpty());
}

TEST_P(GreetBareDesktopTest, WithoutDisplayNothingIsTriedAndZeroComesBack)
{
    const QByteArray display = qgetenv("DISPLAY");
    CLaunchRecorder launches;
    qunsetenv("DISPLAY");
    const int result = SendGreeting(kAccount, kVisitor, QStringLiteral("你好"));
    const bool clipboardSet = SetClipboardText(QStringLiteral("你好"));
    const bool emptyClipboardSet = SetClipboardText(QString());
    qputenv("DISPLAY", display);

    EXPECT_EQ(result, 0);
    EXPECT_TRUE(launches.Requests().empty());
    EXPECT_FALSE(clipboardSet);
    EXPECT_TRUE(emptyClipboardSet) << "an empty text leaves the clipboard alone and succeeds";
}

TEST_P(GreetBareDesktopTest, ClipboardFailureGivesZeroAndTypesNothing)
{
    ASSERT_EQ(m_hichat.OpenLink(ChatLink(kAccount, kVisitor)), 0);
    const unsigned long chat = WaitForChatWindow(kVisitor);
    ASSERT_NE(chat, 0u);

    // The clipboard owner connects to $DISPLAY, which points nowhere once the link is out.
    const QByteArray display = qgetenv("DISPLAY");
    int result = -1;
    {
        CLaunchRecorder launches([] { qputenv("DISPLAY", ":9999"); });
        result = SendGreeting(kAccount, kVisitor, QStringLiteral("不该发出的问候"));
    }
    qputenv("DISPLAY", display);

    EXPECT_EQ(result, 0);
    EXPECT_TRUE(IsWindowViewable(chat)) << "the sender went on after the clipboard failed";
    EXPECT_TRUE(m_hichat.Messages().isEmpty());
}

TEST_P(GreetBareDesktopTest, ClipboardServesLargeTextsWhole)
{
    // Above the size of one X request, so it goes out in INCR chunks.
    QString text;
    for (int i = 0; i < 15000; ++i)
        text += QStringLiteral("大段问候文字 large greeting 😀 <&>' ");
    ASSERT_GT(text.toUtf8().size(), 600 * 1024);
    ASSERT_TRUE(SetClipboardText(text));
    QString pasted;
    EXPECT_TRUE(WaitUntil(
        [&] {
            pasted = QGuiApplication::clipboard()->text();
            return pasted == text;
        },
        10000))
        << "got " << pasted.size() << " of " << text.size() << " characters";

    ASSERT_TRUE(SetClipboardText(QStringLiteral("短的 <&>'")));
    EXPECT_TRUE(WaitUntil([&] { return QGuiApplication::clipboard()->text() == QStringLiteral("短的 <&>'"); }, 5000));
    const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(offered, nullptr);
    EXPECT_TRUE(offered->hasText());
}

TEST_P(GreetBareDesktopTest, ClipboardAnswersTheTextTargets)
{
    ASSERT_TRUE(SetClipboardText(QStringLiteral("café 咖啡 <&>'")));
    QByteArray data;
    QString type;
    ASSERT_TRUE(ConvertClipboard(QStringLiteral("TARGETS"), data, type));
    EXPECT_EQ(type, QStringLiteral("ATOM"));
    const QList<QByteArray> targets = data.trimmed().split('\n');
    for (const char* expected : {"TARGETS", "UTF8_STRING", "text/plain;charset=utf-8", "STRING"})
        EXPECT_TRUE(targets.contains(expected)) << expected << " not in " << data.constData();

    ASSERT_TRUE(ConvertClipboard(QStringLiteral("UTF8_STRING"), data, type));
    EXPECT_EQ(type, QStringLiteral("UTF8_STRING"));
    EXPECT_EQ(QString::fromUtf8(data), QStringLiteral("café 咖啡 <&>'"));
    ASSERT_TRUE(ConvertClipboard(QStringLiteral("text/plain;charset=utf-8"), data, type));
    EXPECT_EQ(QString::fromUtf8(data), QStringLiteral("café 咖啡 <&>'"));
    // The legacy target is Latin-1: what it cannot carry becomes '?'.
    ASSERT_TRUE(ConvertClipboard(QStringLiteral("STRING"), data, type));
    EXPECT_EQ(type, QStringLiteral("STRING"));
    EXPECT_EQ(data, QByteArray("caf\xe9 ?? <&>'"));
    EXPECT_FALSE(ConvertClipboard(QStringLiteral("image/png"), data, type)) << "an unknown target is refused";
}

INSTANTIATE_TEST_SUITE_P(Bare, GreetBareDesktopTest, ::testing::Values(EDesktop::Bare), DesktopName);

// ---- input only into the chat

enum class EIntruder
{
    KeyboardGrab, // a screen locker holds the keyboard
    FocusThief,   // a window takes the focus each time the chat gets it
};

// A small X client of the test's own: a window that counts every key that
// reaches it, and that either holds a global keyboard grab or steals the
// focus from whoever has it, until Release().
class CIntruder
{
public:
    explicit CIntruder(EIntruder kind) : m_kind(kind)
    {
        m_d = XOpenDisplay(nullptr);
        if (!m_d)
            return;
        m_window = XCreateSimpleWindow(m_d, DefaultRootWindow(m_d), 600, 10, 200, 100, 0, 0, 0);
        XSelectInput(m_d, m_window, KeyPressMask | KeyReleaseMask | ExposureMask);
        XMapRaised(m_d, m_window);
        XSync(m_d, False);
        if (kind == EIntruder::KeyboardGrab)
            m_holding = XGrabKeyboard(m_d, m_window, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
        else
            m_holding = true;
        m_thread = std::thread([this] { Run(); });
    }
    ~CIntruder()
    {
        m_end = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_d)
            XCloseDisplay(m_d);
    }
    bool Holding() const { return m_holding; }
    void Release() { m_release = true; }
    bool Released() const { return m_released; }
    int KeysReceived() const { return m_keys; }
    int Steals() const { return m_steals; }

private:
    void Run()
    {
        while (!m_end) {
            if (m_release && !m_released) {
                if (m_kind == EIntruder::KeyboardGrab)
                    XUngrabKeyboard(m_d, CurrentTime);
                XSync(m_d, False);
                m_released = true;
            }
            if (m_kind == EIntruder::FocusThief && !m_released) {
                Window focus = 0;
                int revert = 0;
                XGetInputFocus(m_d, &focus, &revert);
                if (focus != m_window && focus != PointerRoot && focus != 0 && focus != DefaultRootWindow(m_d)) {
                    XSetInputFocus(m_d, m_window, RevertToParent, CurrentTime);
                    ++m_steals;
                }
                XSync(m_d, False);
            }
            while (XPending(m_d) > 0) {
                XEvent event;
                XNextEvent(m_d, &event);
                if (event.type == KeyPress)
                    ++m_keys;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    EIntruder m_kind;
    Display* m_d = nullptr;
    Window m_window = 0;
    bool m_holding = false;
    std::thread m_thread;
    std::atomic<bool> m_end{false};
    std::atomic<bool> m_release{false};
    std::atomic<bool> m_released{false};
    std::atomic<int> m_keys{0};
    std::atomic<int> m_steals{0};
};

class GreetIntruderTest : public ::testing::TestWithParam<EIntruder>
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs an X display (ctest runs it in xvfb-run)";
        ASSERT_FALSE(CWindowManager::Managed()) << "another window manager runs on this display";
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(OpenStore(m_dir.path()));
        ASSERT_TRUE(m_hichat.Register()) << qPrintable(m_hichat.Error());
        ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
        m_previousStep = LiveSettings().sendsteptime.load();
        LiveSettings().sendsteptime = 5;
    }
    void TearDown() override
    {
        if (m_thread) {
            m_thread->m_stop = 1;
            EXPECT_TRUE(m_thread->wait(30000));
            delete m_thread;
        }
        LiveSettings().sendsteptime = m_previousStep;
        m_hichat.Stop();
        CloseStore();
    }
    void Queue(const QString& visitor)
    {
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('%1','%2','%3')")
                .arg(visitor, kAccount, QStringLiteral("你好 [username]"))));
    }
    QList<QStringList> Attempts()
    {
        return ReadRows(*g_pConnection, QStringLiteral("select * from [greetlog] order by [id]"), {2, 4});
    }

    QTemporaryDir m_dir;
    CHichatSession m_hichat;
    CAutoSendMsgThread* m_thread = nullptr;
    int m_previousStep = 6;
};

std::atomic<int> g_heldLines{0};
QtMessageHandler g_previousHandler = nullptr;

void CountHeldLines(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QStringLiteral("greeting held")))
        ++g_heldLines;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// While another client holds the keyboard or takes the focus, not one key
// reaches it: the greeting is held (a log line, no greeting log row) and stays
// queued; once the keyboard is free it reaches hichat exactly once.
TEST_P(GreetIntruderTest, NoKeyGoesAstrayAndTheGreetingArrivesOnceAfterwards)
{
    const QString visitor = QStringLiteral("被拦的访客");
    CIntruder intruder(GetParam());
    ASSERT_TRUE(intruder.Holding());
    Queue(visitor);
    g_heldLines = 0;
    g_previousHandler = qInstallMessageHandler(CountHeldLines);
    const auto restoreHandler = qScopeGuard([] { qInstallMessageHandler(g_previousHandler); });
    m_thread = new CAutoSendMsgThread;
    m_thread->start();

    ASSERT_TRUE(WaitUntil([&] { return g_heldLines.load() > 0; }, 60000)) << "no attempt was made";
    EXPECT_TRUE(Attempts().isEmpty()) << "a held try is no greeting";
    EXPECT_EQ(ReadRows(*g_pConnection, QStringLiteral("select * from [AutoSend]"), {0}).size(), 1)
        << "the held greeting stays queued";
    EXPECT_TRUE(m_hichat.Messages().isEmpty());
    if (GetParam() == EIntruder::FocusThief) {
        EXPECT_GT(intruder.Steals(), 0);
    }

    intruder.Release();
    ASSERT_TRUE(WaitUntil([&] { return intruder.Released(); }, 5000));
    ASSERT_TRUE(m_hichat.WaitForMessages(1, 60000)) << "the greeting never arrived";
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadRows(*g_pConnection, QStringLiteral("select * from [AutoSend]"), {0}).isEmpty(); }, 20000));
    EXPECT_EQ(m_hichat.Messages().size(), 1);
    EXPECT_EQ(m_hichat.Messages().value(0).value(QStringLiteral("text")).toString(), QStringLiteral("你好 ") + visitor);
    EXPECT_EQ(intruder.KeysReceived(), 0) << "keys went to the other client";
    EXPECT_EQ(Attempts(), (QList<QStringList>{{visitor, QStringLiteral("TRUE")}}));
}

INSTANTIATE_TEST_SUITE_P(Intruders, GreetIntruderTest,
                         ::testing::Values(EIntruder::KeyboardGrab, EIntruder::FocusThief),
                         [](const ::testing::TestParamInfo<EIntruder>& info) {
                             return info.param == EIntruder::KeyboardGrab ? "KeyboardGrab" : "FocusThief";
                         });

// Another client grabs the keyboard right after a key went out (and lets go a
// second later). Two shops greet the same visitor; hichat raises the open
// chat for the second link. Neither greeting is typed twice nor pasted into
// an input that still holds the other: after the paste the first is given up
// (the chat keeps its text) and the second is not typed into that chat; after
// Ctrl+Enter the greeting counts as sent and Enter is not pressed.
class GreetAfterTheClickTest : public GreetIntruderTest
{
};

TEST_P(GreetAfterTheClickTest, AGrabAfterAKeyNeverDoublesTheGreeting)
{
    const EGreetStep grabAfter =
        GetParam() == EIntruder::KeyboardGrab ? EGreetStep::Pasted : EGreetStep::CtrlEnterPressed;
    std::vector<std::thread> releases;
    const GreetingStepHook previous = SetGreetingStepHook([&](EGreetStep step) {
        if (step != grabAfter)
            return;
        Display* d = XOpenDisplay(nullptr);
        XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        XSync(d, False);
        releases.emplace_back([d] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            XCloseDisplay(d);
        });
    });
    const QString visitor = QStringLiteral("双份访客");
    Queue(visitor);
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral(
            "insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('%1','二店','再见 [username]')")
            .arg(visitor)));
    LiveSettings().sendsteptime = 1;
    m_thread = new CAutoSendMsgThread;
    m_thread->start();

    const auto queued = [&] { return ReadRows(*g_pConnection, QStringLiteral("select * from [AutoSend]"), {0}); };
    ASSERT_TRUE(WaitUntil([&] { return Attempts().size() == 2 && queued().isEmpty(); }, 60000))
        << "the greetings' fates were not logged, or a greeting that reached the chat stays queued";
    m_thread->m_stop = 1;
    ASSERT_TRUE(m_thread->wait(30000));
    SetGreetingStepHook(previous);
    for (std::thread& release : releases)
        release.join();
    const QStringList greetings{QStringLiteral("你好 ") + visitor, QStringLiteral("再见 ") + visitor};
    QStringList texts;
    for (const QJsonObject& message : m_hichat.Messages())
        texts.append(message.value(QStringLiteral("text")).toString());
    if (grabAfter == EGreetStep::Pasted) {
        EXPECT_EQ(texts, QStringList()) << "nothing was sent after the paste";
        EXPECT_EQ(Attempts(),
                  (QList<QStringList>{{visitor, QStringLiteral("FALSE")}, {visitor, QStringLiteral("FALSE")}}));
    } else {
        EXPECT_EQ(texts, greetings) << "each greeting once, Ctrl+Enter alone sent it";
        EXPECT_EQ(Attempts(),
                  (QList<QStringList>{{visitor, QStringLiteral("TRUE")}, {visitor, QStringLiteral("TRUE")}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, GreetAfterTheClickTest,
                         ::testing::Values(EIntruder::KeyboardGrab, EIntruder::FocusThief),
                         [](const ::testing::TestParamInfo<EIntruder>& info) {
                             return info.param == EIntruder::KeyboardGrab ? "GrabAfterThePaste" : "GrabAfterCtrlEnter";
                         });

// The owner's clipboard is the same after a greeting as before: every form of
// what it held, or nothing when it held nothing.
TEST_P(GreetBareDesktopTest, TheOwnersClipboardIsGivenBackAfterThePaste)
{
    for (const bool held : {true, false}) {
        auto* mime = new QMimeData;
        mime->setText(QStringLiteral("店主的剪贴板"));
        mime->setHtml(QStringLiteral("<b>店主</b>"));
        mime->setData(QStringLiteral("application/x-mirel-test"), QByteArray("\x01\x02binary", 8));
        if (held)
            QGuiApplication::clipboard()->setMimeData(mime);
        else
            delete mime;
        if (!held) {
            CClipboardOwner::Instance().Release();
            ASSERT_EQ(XGetSelectionOwner(m_x.get(), XInternAtom(m_x.get(), "CLIPBOARD", False)), 0u);
        }
        // The test's own window answers for its clipboard while the greeting runs beside it.
        std::atomic<int> result{-2};
        std::thread sender([&] { result = SendGreeting(kAccount, kVisitor, QStringLiteral("打招呼的话")); });
        EXPECT_TRUE(WaitUntil([&] { return result.load() != -2; }, 60000));
        sender.join();
        EXPECT_EQ(result.load(), kGreetingSent);
        ASSERT_TRUE(m_hichat.WaitForMessages(held ? 1 : 2, 10000));
        EXPECT_EQ(m_hichat.Messages().last().value(QStringLiteral("text")).toString(), QStringLiteral("打招呼的话"));
        if (held) {
            const QMimeData* back = QGuiApplication::clipboard()->mimeData();
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(back->text(), QStringLiteral("店主的剪贴板"));
            EXPECT_EQ(back->html(), QStringLiteral("<b>店主</b>"));
            EXPECT_EQ(back->data(QStringLiteral("application/x-mirel-test")), QByteArray("\x01\x02binary", 8));
        } else {
            EXPECT_EQ(XGetSelectionOwner(m_x.get(), XInternAtom(m_x.get(), "CLIPBOARD", False)), 0u)
                << "an empty clipboard stays empty";
        }
    }
}

// The window search waits up to 25 s for a chat that never comes: a stop ends
// the greeting thread within a second all the same.
TEST(GreetStop, AStopDuringTheWindowSearchEndsTheThreadWithinASecond)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs an X display (ctest runs it in xvfb-run)";
    QTemporaryDir dir;
    ASSERT_TRUE(OpenStore(dir.path()));
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('无窗访客','店','你好')")));
    CLaunchRecorder launches;
    CAutoSendMsgThread thread;
    thread.start();
    ASSERT_TRUE(WaitUntil([&] { return !launches.Requests().empty(); }, 10000));
    QThread::msleep(1200); // well into the search
    QElapsedTimer stopping;
    stopping.start();
    thread.m_stop = 1;
    EXPECT_TRUE(thread.wait(1500)) << "still searching after the stop";
    std::printf("greeting thread ended %lld ms after the stop\n", static_cast<long long>(stopping.elapsed()));
    thread.wait();
    CloseStore();
}

class GreetWindowSearchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"));
        ASSERT_TRUE(m_x);
    }
    CXConnection m_x;
};

TEST_F(GreetWindowSearchTest, OnlyShownUnownedNonToolWindowsOfTheExactClassMatch)
{
    const QString visitor = QStringLiteral("访客甲");
    CTestWindow owner(QStringLiteral("主窗口"), QStringLiteral("Other"));
    CTestWindow::COptions tool;
    tool.toolWindow = true;
    CTestWindow::COptions owned;
    owned.transientFor = owner.id();
    CTestWindow::COptions hidden;
    hidden.map = false;
    CTestWindow::COptions popup;
    popup.overrideRedirect = true;
    CTestWindow toolWindow(QStringLiteral("访客甲 tool"), QStringLiteral("BaseGui"), tool);
    CTestWindow ownedWindow(QStringLiteral("访客甲 owned"), QStringLiteral("BaseGui"), owned);
    CTestWindow hiddenWindow(QStringLiteral("访客甲 hidden"), QStringLiteral("BaseGui"), hidden);
    CTestWindow popupWindow(QStringLiteral("访客甲 popup"), QStringLiteral("BaseGui"), popup);
    CTestWindow lowerCase(QStringLiteral("访客甲 case"), QStringLiteral("basegui"));
    CTestWindow longerClass(QStringLiteral("访客甲 longer"), QStringLiteral("BaseGuiX"));
    CTestWindow otherVisitor(QStringLiteral("访客乙"), QStringLiteral("BaseGui"));
    CTestWindow untitled(QString(), QStringLiteral("BaseGui"));

    EXPECT_EQ(FindChatWindow(m_x.get(), visitor), 0u);

    std::vector<CTaskManage> list;
    ASSERT_TRUE(EnumTopWindows(m_x.get(), list));
    std::vector<unsigned long> listed;
    for (const CTaskManage& task : list)
        listed.push_back(task.m_window);
    const auto isListed = [&](unsigned long window) {
        return std::find(listed.begin(), listed.end(), window) != listed.end();
    };
    EXPECT_TRUE(isListed(owner.id()));
    EXPECT_TRUE(isListed(lowerCase.id()));
    EXPECT_TRUE(isListed(otherVisitor.id()));
    for (unsigned long filtered :
         {toolWindow.id(), ownedWindow.id(), hiddenWindow.id(), popupWindow.id(), untitled.id()})
        EXPECT_FALSE(isListed(filtered)) << std::hex << filtered;

    CTestWindow chat(QStringLiteral("访客甲 - 聊天中"), QStringLiteral("BaseGui"));
    EXPECT_EQ(FindChatWindow(m_x.get(), visitor), chat.id());
    EXPECT_EQ(FindChatWindow(m_x.get(), QStringLiteral("访客")), 0u) << "only the whole name";
}

// A name matches as a whole word only; several matching chats: none is typed into.
TEST_F(GreetWindowSearchTest, TheOneWindowNamingTheWholeVisitorOrNone)
{
    const struct
    {
        const char* title;
        const char* visitor;
        bool names;
    } cases[] = {
        {"李四 - hichat", "李四", true},    {"李四 - hichat", "李", false}, {"与访客甲聊天中", "访客甲", false},
        {"[a_b] chat", "a_b", true},        {"ab - hichat", "a", false},    {"hichat: 王五", "王五", true},
        {"王五五 - hichat", "王五", false}, {"x 50%off y", "50%off", true}, {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TitleNamesVisitor(QString::fromUtf8(c.title), QString::fromUtf8(c.visitor)), c.names) << c.title;

    CTestWindow one(QStringLiteral("李四 - hichat"), QStringLiteral("BaseGui"));
    CTestWindow other(QStringLiteral("李四四 - hichat"), QStringLiteral("BaseGui"));
    EXPECT_EQ(FindChatWindow(m_x.get(), QStringLiteral("李四")), one.id());
    int candidates = 0;
    CTestWindow second(QStringLiteral("李四 (2)"), QStringLiteral("BaseGui"));
    EXPECT_EQ(FindChatWindow(m_x.get(), QStringLiteral("李四"), &candidates), 0u);
    EXPECT_EQ(candidates, 2);

    // For a link: only a window that appeared or was raised since the snapshot (or is on top) counts.
    CTestWindow cover(QStringLiteral("其他程序"), QStringLiteral("Other"));
    const CTopWindowSnapshot before = SnapshotTopWindows(m_x.get());
    EXPECT_EQ(FindChatWindowForLink(m_x.get(), QStringLiteral("李四"), before, &candidates), 0u);
    EXPECT_EQ(candidates, 0);
    one.Raise();
    EXPECT_EQ(FindChatWindowForLink(m_x.get(), QStringLiteral("李四"), before, &candidates), one.id());
    CTestWindow fresh(QStringLiteral("王五 - hichat"), QStringLiteral("BaseGui"));
    EXPECT_EQ(FindChatWindowForLink(m_x.get(), QStringLiteral("王五"), before), fresh.id());
}

TEST(GreetChatLink, EncodesOnlyWhatWouldCutOrChangeAValue)
{
    EXPECT_EQ(ChatLink(QStringLiteral("店 主"), QStringLiteral("a&b=c")),
              QStringLiteral("lumochat://message/?sid=店%20主&id=a%26b%3Dc&clk=icon&src=space&browser=IE"));
    const QString link = ChatLink(QStringLiteral("x#y"), QStringLiteral("50%off+a/b?<张>\t"));
    EXPECT_EQ(link,
              QStringLiteral("lumochat://message/?sid=x%23y&id=50%25off%2Ba/b?<张>%09&clk=icon&src=space&browser=IE"));
}
