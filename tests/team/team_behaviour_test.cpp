// Two real program instances on one throwaway PostgreSQL team store, with
// rivuzovara-local and hichat under Xvfb: a shopper is recorded once, both
// instances alert, the one that greets for the shop sends the one greeting;
// the server stopped for 20 s loses nothing and freezes no window; the
// polling instance killed, the other takes the account over.
#include "accounts/TeamSettings.h"
#include "accounts/ui/TeamSettingDlg.h"
#include "app/PageFactory.h"
#include "greet/TeamGreetingQueue.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "support/Hichat.h"
#include "support/LocalService.h"
#include "support/PgCluster.h"
#include "support/StoreTestSupport.h"
#include "support/TestMain.h"
#include "support/WaitUntil.h"
#include "support/XvfbSession.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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
    ~CInstance() { Stop(); }

    QString Name() const { return m_name; }
    QString Home() const { return m_home.path(); }

    // The settings file; url carries the machine as its session's name, so the server tells whose a session is.
    void WriteSettings(const CEndpoints& e, const QString& url) const
    {
        QFile ini(m_home.filePath(QStringLiteral("mirelhelper.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Text));
        ini.write(QStringLiteral("[endpoints]\ntracking_base=%1\nim_profile_base=%2\nim_portrait_base=%3\n"
                                 "im_presence_base=%4\nim_message_page=%5\nim_image_base=%6\nmaker_site=%7\n"
                                 "[sound]\ndevice=\"file:'%8',raw\"\n[store]\nbackend=postgresql\nurl=%9\n")
                      .arg(e.trackingBase, e.imProfileBase, e.imPortraitBase, e.imPresenceBase, e.imMessagePage,
                           e.imImageBase, e.makerSite, SoundPath(), url + QStringLiteral("?application_name=") + m_name)
                      .toUtf8() +
                  QStringLiteral("machine=%1\n").arg(m_name).toUtf8());
    }

    // Runs the program with args to its end; its exit code, -1 when it did not end within timeoutMs.
    int RunOnce(const QStringList& args, int timeoutMs) const
    {
        QProcess process;
        process.setProcessEnvironment(Environment());
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(Program(), args);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(5000);
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    bool Start()
    {
        m_process.setProcessEnvironment(Environment());
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(Program(), {});
        return m_process.waitForStarted(10000);
    }
    void Kill()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            Kill();
    }
    // A second start hands over to the running copy, whose window's thread answers it at once:
    // a frozen window would leave it unanswered (exit 1).
    bool Responsive() const { return m_process.state() == QProcess::Running && RunOnce({}, 15000) == 0; }

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
    QProcessEnvironment Environment() const
    {
        // The rest of the environment (XDG folders, hichat's instance and log) is the hichat session's.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MIRELHELP_HOME"), m_home.path());
        return environment;
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
        ASSERT_TRUE(m_hichat.Register()) << m_hichat.Error().toStdString();
        ASSERT_TRUE(m_hichat.Start()) << m_hichat.Error().toStdString();
        const QString webId = m_service.RegisterAccount(kShop, kPassword);
        ASSERT_FALSE(webId.isEmpty());
        ASSERT_EQ(
            m_service.GetTracking(QStringLiteral("/rivuzovara/SaveImName.asp?UserName=%1&UserPwd=%2&UserImName=%3")
                                      .arg(kShop, kPassword, kImName)),
            200);
        for (CInstance* instance : {&m_alpha, &m_beta}) {
            instance->WriteSettings(m_service.MakeEndpoints(), m_cluster.Url());
            // Makes the schema (first) and the machine's settings row.
            ASSERT_EQ(instance->RunOnce({QStringLiteral("--init-store")}, 60000), 0) << instance->Name().toStdString();
        }
        // The shop is monitored and greets; beta greets for it, alpha for nothing.
        Sql(QStringLiteral("insert into \"user\" (username, usersmailname, password, webid, messageinfo, autosend) "
                           "values ('%1', '%2', '%3', '%4', '您好 [username]，欢迎光临！', 1)")
                .arg(kShop, kImName, kPassword, webId));
        Sql(QStringLiteral("update sysseting_all set reflashtime = 20, clienttip = 1, guesttip = 0, playsound = 1, "
                           "sendsteptime = 1"));
        Sql(QStringLiteral("insert into machine (name, greetshops, lastseen) values ('beta', '%1', '')").arg(kShop));
    }

    void TearDown() override
    {
        m_alpha.Stop();
        m_beta.Stop();
        m_hichat.Stop();
        m_service.Stop();
        m_windowManager.Stop();
    }

    QStringList Sql(const QString& sql)
    {
        QStringList rows;
        QString why;
        EXPECT_TRUE(m_cluster.Query(sql, &rows, &why)) << why.toStdString() << " in " << sql.toStdString();
        return rows;
    }
    // Without a failure while the server is away.
    QStringList Peek(const QString& sql) const
    {
        QStringList rows;
        m_cluster.Query(sql, &rows);
        return rows;
    }

    // The machine whose session holds the shop's poll claim; empty when none does.
    QString Poller() const
    {
        return Peek(QStringLiteral("select a.application_name from pg_locks l join pg_stat_activity a on "
                                   "a.pid = l.pid where l.locktype = 'advisory' and l.granted"))
            .value(0);
    }
    int ListeningMachines() const
    {
        return Peek(QStringLiteral("select count(distinct application_name) from pg_stat_activity where "
                                   "query ilike 'listen%'"))
            .value(0)
            .toInt();
    }
    int VisitsOf(const QString& visitor) const
    {
        return Peek(QStringLiteral("select count(*) from client where guestname = '%1' and shopname = '%2'")
                        .arg(visitor, kShop))
            .value(0, QStringLiteral("-1"))
            .toInt();
    }

    // A shopper opens an item page, then shows up on the shop's IM profile page.
    void ShopperVisits(const QString& visitor, const QString& imId)
    {
        ASSERT_EQ(m_service.GetTracking(QStringLiteral("/rivuzovara/shop.asp?id=%1&ip=61.135.169.121&url=%2")
                                            .arg(QueryValue(WebId()), QueryValue(m_service.ImBase() + "/item/1"))),
                  200);
        ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/visit?imname=%1&name=%2&imid=%3")
                                      .arg(QueryValue(kImName), QueryValue(visitor), QueryValue(imId))),
                  200);
    }
    QString WebId() const
    {
        return Peek(QStringLiteral("select webid from \"user\" where username = '%1'").arg(kShop)).value(0);
    }

    CPgCluster m_cluster;
    CWindowManager m_windowManager;
    CLocalService m_service;
    CHichatSession m_hichat;
    CInstance m_alpha{QStringLiteral("alpha")};
    CInstance m_beta{QStringLiteral("beta")};
};

TEST_F(TeamTest, OneVisitOneGreetingAlertsEverywhereSurvivesTheServerAwayAndAKilledPoller)
{
    ASSERT_TRUE(m_alpha.Start());
    ASSERT_TRUE(m_beta.Start());
    ASSERT_TRUE(WaitUntil([&] { return !Poller().isEmpty() && ListeningMachines() == 2; }, 60000))
        << "poller " << Poller().toStdString() << ", listening " << ListeningMachines();
    const auto forgetAlerts = [&] {
        m_alpha.ForgetAlerts();
        m_beta.ForgetAlerts();
    };
    const auto bothAlerted = [&] { return m_alpha.Alerted() && m_beta.Alerted(); };
    forgetAlerts();

    // One shopper: one row, both machines alert, beta sends the one greeting.
    ShopperVisits(QStringLiteral("买家一"), QStringLiteral("a0001"));
    ASSERT_TRUE(WaitUntil([&] { return VisitsOf(QStringLiteral("买家一")) == 1; }, 2 * kCycleMs));
    EXPECT_TRUE(WaitUntil(bothAlerted, 30000))
        << "alerted: alpha " << m_alpha.Alerted() << ", beta " << m_beta.Alerted();
    ASSERT_TRUE(m_hichat.WaitForMessages(1, 60000)) << "no greeting reached hichat";
    EXPECT_EQ(m_hichat.Messages().value(0).value(QStringLiteral("id")).toString(), QStringLiteral("买家一"));
    EXPECT_TRUE(WaitUntil([&] { return Peek(QStringLiteral("select count(*) from autosend")).value(0) == "0"; }));
    EXPECT_TRUE(m_beta.Log().contains(QStringLiteral("greeting sent for team_shop")));
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
    QString why;
    ASSERT_TRUE(m_cluster.Start(&why)) << why.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return VisitsOf(QStringLiteral("买家二")) == 1; }, 90000))
        << "the visit of the outage was lost";
    EXPECT_TRUE(WaitUntil(bothAlerted, 60000))
        << "alerted: alpha " << m_alpha.Alerted() << ", beta " << m_beta.Alerted();
    EXPECT_TRUE(m_alpha.Responsive());
    EXPECT_TRUE(m_beta.Responsive());

    // The polling instance killed: its session and claim end, the other polls the shop within a cycle.
    ASSERT_TRUE(WaitUntil([&] { return !Poller().isEmpty() && ListeningMachines() == 2; }, 2 * kCycleMs));
    const QString poller = Poller();
    CInstance& killed = poller == m_alpha.Name() ? m_alpha : m_beta;
    CInstance& survivor = poller == m_alpha.Name() ? m_beta : m_alpha;
    killed.Kill();
    ShopperVisits(QStringLiteral("买家三"), QStringLiteral("a0003"));
    EXPECT_TRUE(WaitUntil([&] { return VisitsOf(QStringLiteral("买家三")) == 1; }, kCycleMs + 15000));
    EXPECT_EQ(Poller(), survivor.Name());
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
    struct CRestore
    {
        CAdoConnection* previous = g_pConnection;
        ~CRestore() { g_pConnection = previous; }
    } restore;
    g_pConnection = &team;
    ASSERT_TRUE(team.Execute(QStringLiteral("insert into [user] ([username]) values ('甲店')")));
    ASSERT_TRUE(team.Execute(QStringLiteral("insert into [user] ([username]) values ('乙店')")));

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

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const auto& [visitor, queuedMs] : {std::pair{"客一", now - 31 * 60 * 1000}, std::pair{"客二", now}}) {
        ASSERT_TRUE(team.Execute(QStringLiteral("insert into [AutoSend] ([ClientName], [UserName], [Message], "
                                                "[queuedtime]) values ('%1', '乙店', 'hi', '%2')")
                                     .arg(QString::fromUtf8(visitor), StoreTimeText(queuedMs))));
    }
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
        droppedMeanwhile = second.DropStale(now);
    }).join();
    EXPECT_EQ(other ? other->visitor : QString(), QStringLiteral("客二"));
    EXPECT_EQ(droppedMeanwhile, 0);
    first.Finish(false);
    EXPECT_EQ(CTeamGreetingQueue().DropStale(now), 1);
    QStringList left;
    cluster.Query(QStringLiteral("select clientname from autosend"), &left);
    EXPECT_EQ(left, QStringList{QStringLiteral("客二")});
}

} // namespace
