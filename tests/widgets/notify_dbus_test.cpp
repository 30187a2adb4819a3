// Desktop notifications over a private session bus with a stand-in
// notification daemon: the call, the replacing id, escaping for markup.
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "notify/ui/DesktopNotifier.h"
#include "platform/MessageBox.h"
#include "support/XvfbSession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QVariantMap>

namespace {

// The daemon's side of org.freedesktop.Notifications, recording every call.
class CFakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct CCall
    {
        QString app;
        uint replaces = 0;
        QString summary;
        QString body;
        int timeout = 0;
        QStringList actions;
    };
    QList<CCall> calls;
    QStringList capabilities{QStringLiteral("body")};

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString& app, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int timeout)
    {
        calls.append({app, replaces, summary, body, timeout, actions});
        return replaces ? replaces : 40 + static_cast<uint>(calls.size());
    }
};

// One private bus for the whole test program, set up before the first use
// of the session bus.
class CPrivateBus
{
public:
    CPrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        m_process.start(daemon,
                        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_process.waitForStarted(5000))
            return;
        for (int i = 0; i < 100 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        address = QString::fromUtf8(m_process.readLine()).trimmed();
        if (!address.isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    ~CPrivateBus()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString address;

private:
    QProcess m_process;
};

CPrivateBus& Bus()
{
    static CPrivateBus bus;
    return bus;
}

class DesktopNotifierTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (Bus().address.isEmpty())
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        m_daemon = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(Bus().address, QStringLiteral("fake-daemon")));
        ASSERT_TRUE(m_daemon->isConnected());
        ASSERT_TRUE(m_daemon->registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_fake,
                                             QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(m_daemon->registerService(QStringLiteral("org.freedesktop.Notifications")));
    }
    void TearDown() override
    {
        if (m_daemon) {
            m_daemon->unregisterService(QStringLiteral("org.freedesktop.Notifications"));
            m_daemon->unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-daemon"));
        }
    }
    CFakeNotifications m_fake;
    std::unique_ptr<QDBusConnection> m_daemon;
};

} // namespace

TEST_F(DesktopNotifierTest, NotificationsReplaceTheirPredecessor)
{
    ASSERT_TRUE(CDesktopNotifier::BusAvailable());
    CDesktopNotifier notifier;
    ASSERT_TRUE(notifier.Notify(QStringLiteral("标题"), QStringLiteral("欢迎使用!"), 10000));
    ASSERT_TRUE(WaitUntil([this] { return m_fake.calls.size() == 1; }, 5000)) << m_fake.calls.size();
    EXPECT_TRUE(WaitUntil([&notifier] { return notifier.LastId() == 41u; }, 5000)) << notifier.LastId();
    EXPECT_EQ(m_fake.calls[0].app, AppTitle());
    EXPECT_EQ(m_fake.calls[0].replaces, 0u);
    EXPECT_EQ(m_fake.calls[0].summary, QStringLiteral("标题"));
    EXPECT_EQ(m_fake.calls[0].body, QStringLiteral("欢迎使用!"));
    EXPECT_EQ(m_fake.calls[0].timeout, 10000);

    // The second alert takes the place of the first, as in one balloon.
    ASSERT_TRUE(notifier.Notify(QStringLiteral("标题"), QStringLiteral("访客: <a> & b"), 10000));
    ASSERT_TRUE(WaitUntil([this] { return m_fake.calls.size() == 2; }, 5000)) << m_fake.calls.size();
    EXPECT_EQ(m_fake.calls[1].replaces, 41u);
    EXPECT_EQ(m_fake.calls[1].body, QStringLiteral("访客: <a> & b")) << "plain-text daemon: sent as it is";
}

TEST_F(DesktopNotifierTest, MarkupDaemonGetsEscapedText)
{
    m_fake.capabilities = {QStringLiteral("body"), QStringLiteral("body-markup")};
    CDesktopNotifier notifier;
    // Let the capability answer arrive first.
    QTest::qWait(200);
    ASSERT_TRUE(notifier.Notify(QStringLiteral("t"), QStringLiteral("访客: <a> & b"), 5000));
    ASSERT_TRUE(WaitUntil([this] { return m_fake.calls.size() == 1; }, 5000)) << m_fake.calls.size();
    EXPECT_EQ(m_fake.calls[0].body, QStringLiteral("访客: &lt;a&gt; &amp; b"));
}

TEST_F(DesktopNotifierTest, OnlyOurNotificationsActionReachesTheProgram)
{
    CDesktopNotifier notifier;
    QSignalSpy invoked(&notifier, &CDesktopNotifier::ActionInvoked);
    const QStringList actions{QStringLiteral("open-chat"), QStringLiteral("打开对话")};
    ASSERT_TRUE(notifier.Notify(QStringLiteral("t"), QStringLiteral("新客户[甲]"), 5000, actions));
    ASSERT_TRUE(WaitUntil([&] { return notifier.LastId() == 41u; }, 5000));
    EXPECT_EQ(m_fake.calls.value(0).actions, actions);
    for (const uint id : {7u, 41u}) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << QStringLiteral("open-chat");
        ASSERT_TRUE(m_daemon->send(signal));
    }
    ASSERT_TRUE(invoked.wait(5000));
    QTest::qWait(100);
    ASSERT_EQ(invoked.size(), 1);
    EXPECT_EQ(invoked[0][0].toString(), QStringLiteral("open-chat"));
}

#include "notify_dbus_test.moc"
