// Two real program instances on one throwaway PostgreSQL team store, with
// rivuzovara-local and hichat under Xvfb: a shopper is recorded once, both
// instances alert, the one that greets for the shop sends the one greeting;
// the server stopped for 20 s loses nothing and freezes no window; the
// polling instance killed, the other takes the account over.
#include "accounts/LiveSettings.h"
#include "accounts/TeamSettings.h"
#include "accounts/ui/TeamSettingDlg.h"
#include "app/PageFactory.h"
#include "greet/AutoSendMsgThread.h"
#include "greet/ImClient.h"
#include "store/AdoConnection.h"
#include "support/Hichat.h"
#include "support/LocalService.h"
#include "support/PgCluster.h"
#include "support/StoreTestSupport.h"
#include "support/TestMain.h"
#include "support/WaitUntil.h"
#include "support/XvfbSession.h"
#include "tables/TeamGreetingQueue.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

// Failure messages show texts as texts.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString kShop = QStringLiteral("team_shop");
const QString kPassword = QStringLiteral("team-pw");
const QString kImName = QStringLiteral("team_im");
// The shortest polling interval, and the pause after each account's poll.
constexpr int kCycleMs = (20 + 5) * 1000;

// One mirelhelper process with a data directory of its own, on the team store as machine `name`.
class CInstance
{
public:
    explicit CInstance(const QString& name) : m_name(name) {}
    ~CInstance() { Kill(); }
    QString Name() const { return m_name; }

    // The url names the session after the machine, so the server tells whose a session is.
    bool WriteSettings(const CEndpoints& e, const QString& url) const
    {
        QFile ini(m_home.filePath(QStringLiteral("mirelhelper.ini")));
        return ini.open(QIODevice::WriteOnly) &&
               ini.write(QStringLiteral("[endpoints]\ntracking_base=%1\nim_profile_base=%2\nim_portrait_base=%2\n"
                                        "im_presence_base=%2\nim_message_page=%3\nim_image_base=%2\n[sound]\n"
                                        "device=\"file:'%4',raw\"\n[store]\nbackend=postgresql\nurl=%5\nmachine=%6\n")
                             .arg(e.trackingBase, e.imProfileBase, e.imMessagePage, SoundPath(),
                                  url + QStringLiteral("?application_name=") + m_name, m_name)
                             .toUtf8()) > 0;
    }
    // Runs the program with args to its end: its exit code, -1 when it did not end within 15 s.
    int RunOnce(const QStringList& args) const
    {
        QProcess process;
        Prepare(process);
        process.start(Program(), args);
        const bool ended = process.waitForFinished(15000);
        if (!ended)
            process.kill();
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    bool Start()
    {
        Prepare(m_process);
        m_process.start(Program(), {});
        return m_process.waitForStarted(10000);
    }
    void Kill()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    // A second start hands over to the running copy, whose window's thread answers it at once:
    // a frozen window would leave it unanswered (exit 1).
    bool Responsive() const { return m_process.state() == QProcess::Running && RunOnce({}) == 0; }
    QString Log() const
    {
        QFile file(m_home.filePath(QStringLiteral("mirelhelper.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Every alert plays the chime into the sound file (which each playing rewrites).
    void ForgetAlerts() const { QFile::remove(SoundPath()); }
    bool Alerted() const { return QFileInfo(SoundPath()).size() > 0; }

private:
    static QString Program() { return QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"); }
    QString SoundPath() const { return m_home.filePath(QStringLiteral("alert.raw")); }
    void Prepare(QProcess& process) const
    {
        // The rest of the environment (XDG folders, hichat's instance and log) is the hichat session's.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MIRELHELP_HOME"), m_home.path());
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
    }

    QString m_name;
    QTemporaryDir m_home;
    QProcess m_process;
};

class TeamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs on an X display (ctest uses xvfb-run)";
        QString why;
        ASSERT_TRUE(m_cluster.Start(&why)) << why.toStdString();
        ASSERT_TRUE(m_windowManager.Start()) << "matchbox-window-manager";
        ASSERT_TRUE(m_service.Start()) << m_service.Error().toStdString();
        ASSERT_TRUE(m_hichat.Register() && m_hichat.Start()) << m_hichat.Error().toStdString();
        m_webId = m_service.RegisterAccount(kShop, kPassword);
        ASSERT_EQ(m_service.GetTracking(QStringLiteral("/rivuzovara/SaveImName.asp?UserName=%1&UserPwd=%2&"
                                                       "UserImName=%3")
                                            .arg(kShop, kPassword, kImName)),
                  200);
        for (CInstance* instance : {&m_alpha, &m_beta}) {
            ASSERT_TRUE(instance->WriteSettings(m_service.MakeEndpoints(), m_cluster.Url()));
            // Makes the schema (first) and the machine's settings row.
            ASSERT_EQ(instance->RunOnce({QStringLiteral("--init-store")}), 0) << instance->Name().toStdString();
        }
        // The shop is monitored and greets; beta greets for it, alpha for nothing.
        for (const QString& sql :
             {QStringLiteral("insert into \"user\" (username, usersmailname, password, webid, messageinfo, "
                             "autosend) values ('%1', '%2', '%3', '%4', '您好 [username]', 1)")
                  .arg(kShop, kImName, kPassword, m_webId),
              QStringLiteral("update sysseting_all set reflashtime = 20, clienttip = 1, guesttip = 0, "
                             "playsound = 1, sendsteptime = 1"),
              QStringLiteral("insert into machine values ('beta', '%1', '')").arg(kShop)})
            ASSERT_TRUE(m_cluster.Query(sql, nullptr, &why)) << why.toStdString();
    }

    void TearDown() override
    {
        m_hichat.Stop();
        m_service.Stop();
        m_windowManager.Stop();
    }

    // The first column of the first row; empty when the server does not answer.
    QString Peek(const QString& sql) const
    {
        QStringList rows;
        m_cluster.Query(sql, &rows);
        return rows.value(0);
    }
    // The machine whose session holds the shop's poll claim; empty when none does.
    QString Poller() const
    {
        return Peek(QStringLiteral("select a.application_name from pg_locks l join pg_stat_activity a on "
                                   "a.pid = l.pid where l.locktype = 'advisory' and l.granted"));
    }
    bool PolledAndHeardByBoth() const
    {
        // A listener's last statement is its listen, or its reading of the visits it missed right after.
        return !Poller().isEmpty() &&
               Peek(QStringLiteral(
                   "select count(distinct application_name) from pg_stat_activity where pid <> "
                   "pg_backend_pid() and (query ilike 'listen%' or query ilike '%from visit_origin%')")) == "2";
    }
    bool RecordedOnce(const QString& visitor) const
    {
        return Peek(QStringLiteral("select count(*) from client where guestname = '%1'").arg(visitor)) == "1";
    }

    // A shopper opens an item page, then shows up on the shop's IM profile page.
    void ShopperVisits(const QString& visitor, const QString& imId)
    {
        ASSERT_EQ(m_service.GetTracking(QStringLiteral("/rivuzovara/shop.asp?id=%1&ip=61.135.169.121&url=%2")
                                            .arg(QueryValue(m_webId), QueryValue(m_service.ImBase() + "/item/1"))),
                  200);
        ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/visit?imname=%1&name=%2&imid=%3")
                                      .arg(QueryValue(kImName), QueryValue(visitor), QueryValue(imId))),
                  200);
    }

    CPgCluster m_cluster;
    CWindowManager m_windowManager;
    CLocalService m_service;
    CHichatSession m_hichat;
    QString m_webId;
    CInstance m_alpha{QStringLiteral("alpha")};
    CInstance m_beta{QStringLiteral("beta")};
};

TEST_F(TeamTest, OneVisitOneGreetingAlertsEverywhereSurvivesTheServerAwayAndAKilledPoller)
{
    ASSERT_TRUE(m_alpha.Start());
    ASSERT_TRUE(m_beta.Start());
    ASSERT_TRUE(WaitUntil([&] { return PolledAndHeardByBoth(); }, 60000)) << "poller " << Poller().toStdString();
    const auto forgetAlerts = [&] { m_alpha.ForgetAlerts(), m_beta.ForgetAlerts(); };
    const auto bothAlerted = [&] { return m_alpha.Alerted() && m_beta.Alerted(); };
    forgetAlerts();

    // One shopper: one row, both machines alert, beta sends the one greeting.
    ShopperVisits(QStringLiteral("买家一"), QStringLiteral("a0001"));
    ASSERT_TRUE(WaitUntil([&] { return RecordedOnce(QStringLiteral("买家一")); }, 2 * kCycleMs));
    EXPECT_TRUE(WaitUntil(bothAlerted, 30000))
        << "alerted: alpha " << m_alpha.Alerted() << ", beta " << m_beta.Alerted();
    ASSERT_TRUE(m_hichat.WaitForMessages(1, 60000)) << "no greeting reached hichat";
    EXPECT_EQ(m_hichat.Messages().value(0).value(QStringLiteral("id")).toString(), QStringLiteral("买家一"));
    EXPECT_TRUE(WaitUntil([&] { return Peek(QStringLiteral("select count(*) from autosend")) == "0"; }));
    // The sender logs after it took the row off the queue: wait for the line, not only for the queue.
    EXPECT_TRUE(WaitUntil([&] { return m_beta.Log().contains(QStringLiteral("greeting sent for team_shop")); }));
    EXPECT_FALSE(m_alpha.Log().contains(QStringLiteral("greeting sent")));
    // A second machine's pass comes and goes without a second greeting.
    EXPECT_FALSE(m_hichat.WaitForMessages(2, 8000));

    // The server away for 20 s: both windows keep answering, a shopper of that time is recorded afterwards.
    forgetAlerts();
    m_cluster.Stop();
    ShopperVisits(QStringLiteral("买家二"), QStringLiteral("a0002"));
    QTest::qWait(5000);
    EXPECT_TRUE(m_alpha.Responsive());
    EXPECT_TRUE(m_beta.Responsive());
    QTest::qWait(15000);
    ASSERT_TRUE(m_cluster.Start());
    EXPECT_TRUE(WaitUntil([&] { return RecordedOnce(QStringLiteral("买家二")); }, 90000))
        << "the visit of the outage was lost";
    EXPECT_TRUE(WaitUntil(bothAlerted, 60000))
        << "alerted: alpha " << m_alpha.Alerted() << ", beta " << m_beta.Alerted();
    EXPECT_TRUE(m_alpha.Responsive());
    EXPECT_TRUE(m_beta.Responsive());

    // The polling instance killed: its session and claim end, the other polls the shop within a cycle.
    ASSERT_TRUE(WaitUntil([&] { return PolledAndHeardByBoth(); }, 2 * kCycleMs));
    const QString poller = Poller();
    CInstance& killed = poller == m_alpha.Name() ? m_alpha : m_beta;
    CInstance& survivor = poller == m_alpha.Name() ? m_beta : m_alpha;
    killed.Kill();
    ShopperVisits(QStringLiteral("买家三"), QStringLiteral("a0003"));
    EXPECT_TRUE(WaitUntil([&] { return RecordedOnce(QStringLiteral("买家三")); }, kCycleMs + 15000));
    EXPECT_EQ(Poller(), survivor.Name());
    // Each page view kept once, the one of the outage too, whichever machine heard of it.
    const QString views = QStringLiteral("select count(*) || ' ' || count(distinct seq) from pageview");
    EXPECT_TRUE(WaitUntil([&] { return Peek(views) == QStringLiteral("3 3"); }, 30000)) << Peek(views).toStdString();
}

// In process, as machine "gamma": the 团队设置 dialog stores the shops it greets for; a claimed
// queue row is skipped by another session's claim and drop; a row queued over 30 minutes ago is dropped.
TEST(TeamQueueTest, DialogStoresTheShopsAClaimedRowIsSkippedAndStaleRowsGo)
{
    CPgCluster cluster;
    QString why;
    ASSERT_TRUE(cluster.Start(&why)) << why.toStdString();
    CMessageRecorder boxes;
    CAdoConnection team;
    ASSERT_TRUE(team.ConnectTeam(cluster.Url(), QStringLiteral("gamma")));
    const auto restore = qScopeGuard([previous = g_pConnection] { g_pConnection = previous; });
    g_pConnection = &team;
    ASSERT_TRUE(team.Execute(QStringLiteral("insert into [user] ([username]) values ('甲店'), ('乙店')")));

    QTimer::singleShot(0, qApp, [] {
        auto* dialog = qobject_cast<CTeamSettingDlg*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->findChild<QListWidget*>(QStringLiteral("greetShopList"))->item(1)->setCheckState(Qt::Checked);
        dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
    PageFactory().openTeamSettingDialog(nullptr);
    EXPECT_EQ(ReadGreetShops(QStringLiteral("gamma")), QStringList{QStringLiteral("乙店")});
    EXPECT_TRUE(boxes.Shown().empty());

    // Server times: 客三 was taken 31 minutes ago by a machine that never finished it, 客四 a moment ago.
    ASSERT_TRUE(cluster.Query(
        QStringLiteral("insert into autosend (clientname, username, message, queuedat, claimedby, claimedat) values "
                       "('客一', '乙店', 'hi', now() - interval '31 minutes', null, null), "
                       "('客二', '乙店', 'hi', now(), null, null), "
                       "('客三', '乙店', 'hi', now() - interval '40 minutes', 'delta', now() - interval '31 minutes'), "
                       "('客四', '乙店', 'hi', now() - interval '40 minutes', 'delta', now())"),
        nullptr, &why))
        << why.toStdString();
    CTeamGreetingQueue first;
    const std::optional<CQueuedGreeting> claimed = first.Claim({QStringLiteral("乙店")}, {});
    ASSERT_TRUE(claimed.has_value());
    EXPECT_EQ(claimed->visitor, QStringLiteral("客一"));
    std::optional<CQueuedGreeting> other;
    int droppedMeanwhile = -2;
    std::thread([&] {
        CTeamGreetingQueue second;
        other = second.Claim({QStringLiteral("乙店")}, {});
        second.Finish(false);
        droppedMeanwhile = second.DropStale();
    }).join();
    EXPECT_EQ(other ? other->visitor : QString(), QStringLiteral("客二"));
    EXPECT_EQ(droppedMeanwhile, 1) << "the claim nobody finished in 30 minutes";
    first.Finish(false);
    EXPECT_EQ(CTeamGreetingQueue().DropStale(), 1);
    QStringList left;
    cluster.Query(QStringLiteral("select clientname from autosend order by clientname"), &left);
    EXPECT_EQ(left, (QStringList{QStringLiteral("客二"), QStringLiteral("客四")}));
    QStringList logged;
    cluster.Query(QStringLiteral("select guestname, ok, reason from greetlog order by guestname"), &logged);
    EXPECT_EQ(logged, (QStringList{QStringLiteral("客一|0|") + GreetReasonText(EGreetReason::Dropped),
                                   QStringLiteral("客三|0|") + GreetReasonText(EGreetReason::Dropped)}));
}

// As machine "gamma" with its greeting thread: its session is killed on the
// server between the claim and the send of one greeting, and the server is
// restarted while it types the next. Each visitor gets one greeting; while a
// greeting is typed its row is marked, so no other machine could take it.
TEST(TeamQueueTest, ALostSessionOrAServerRestartMidGreetingNeverGreetsTwice)
{
    CPgCluster cluster;
    QString why;
    ASSERT_TRUE(cluster.Start(&why)) << why.toStdString();
    CAdoConnection team;
    ASSERT_TRUE(team.ConnectTeam(cluster.Url(), QStringLiteral("gamma")));
    const auto restore = qScopeGuard([previous = g_pConnection, step = LiveSettings().sendsteptime.load()] {
        g_pConnection = previous;
        LiveSettings().sendsteptime = step;
    });
    g_pConnection = &team;
    LiveSettings().sendsteptime = 1;
    ASSERT_TRUE(cluster.Query(QStringLiteral("insert into machine values ('gamma', '乙店', ''); insert into autosend "
                                             "(clientname, username, message) values ('客一', '乙店', 'hi'), "
                                             "('客二', '乙店', 'hi')"),
                              nullptr, &why))
        << why.toStdString();

    std::mutex mutex;
    QStringList sentTo;
    QStringList unmarkedWhileTyping;
    const GreetingSender previous = SetGreetingSender([&](const QString&, const QString& visitor, const QString&) {
        QStringList unmarked;
        cluster.Query(
            QStringLiteral("select count(*) from autosend where claimedby is null and clientname = '%1'").arg(visitor),
            &unmarked);
        if (visitor == QStringLiteral("客一"))
            cluster.Query(QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity where pid <> "
                                         "pg_backend_pid() and backend_type = 'client backend'"));
        else
            cluster.Restart();
        std::lock_guard lock(mutex);
        sentTo.append(visitor);
        unmarkedWhileTyping += unmarked;
        return kGreetingSent;
    });
    const auto sent = [&] {
        std::lock_guard lock(mutex);
        return sentTo;
    };
    CAutoSendMsgThread thread;
    thread.start();
    const auto queueEmpty = [&] {
        QStringList rows;
        return cluster.Query(QStringLiteral("select count(*) from autosend"), &rows) && rows == QStringList{"0"};
    };
    EXPECT_TRUE(WaitUntil([&] { return sent().size() >= 2 && queueEmpty(); }, 90000))
        << "sent to: " << sent().join(QStringLiteral(", ")).toStdString();
    // A few more passes of the thread: nothing is sent again.
    QTest::qWait(5000);
    thread.m_stop = 1;
    EXPECT_TRUE(thread.wait(30000));
    SetGreetingSender(previous);
    EXPECT_EQ(sent(), (QStringList{QStringLiteral("客一"), QStringLiteral("客二")}));
    EXPECT_EQ(unmarkedWhileTyping, (QStringList{QStringLiteral("0"), QStringLiteral("0")}));
}

} // namespace
