// The program's own statements over Info.mdb and over the team store on a real
// PostgreSQL give the same texts; the team store comes back after a restart.
#include "support/MonitorFakes.h"
#include "support/PgCluster.h"
#include "support/StoreTestSupport.h"
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "accounts/SystemSettings.h"
#include "stats/VisitStatistics.h"
#include "store/StoreStartup.h"
#include "store/TeamListener.h"
#include "store/TeamStore.h"
#include "tables/AccountTable.h"
#include "tables/GreetingLogTable.h"
#include "tables/PageViewTable.h"
#include "tables/SettingsTable.h"
#include "tables/VisitStatements.h"
#include "tables/VisitTable.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSysInfo>
#include <QThread>

#include <thread>
#include <utility>

namespace {

// A statement and, for a query, the positions the program reads (empty: every column).
struct CStep
{
    QString sql;
    bool query = true;
    QList<int> positions = {};
};

QString Visit(const QString& guest, const QString& shop, const QString& time, const QString& url)
{
    // RefreshShop's insert.
    return QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] "
                          ", [shopurl] , [imuid]) values ('%1','%2','%3','%4',%5,'%6','%7','%8')")
        .arg(SqlText(guest), QStringLiteral("1.2.3.4"), SqlText(shop), time, QStringLiteral("1"),
             QStringLiteral("中国 上海"), SqlText(url), SqlText(QStringLiteral("id-") + guest));
}

QStringList TrickyNames()
{
    return {QStringLiteral("x\\' or 1=1 --"),
            QStringLiteral("tail\\"),
            QStringLiteral("x\\' or pg_notify($$mirel_visit$$, $$1 forged$$) is null --"),
            QStringLiteral("a$$b$$"),
            QStringLiteral("李四五"),
            QStringLiteral("张三")};
}

QList<CStep> ProgramSteps()
{
    const QDate today(2009, 3, 4);
    CAccount owner{QStringLiteral("O'Brien"), QStringLiteral("im'b"),    QStringLiteral("p'w"),
                   QStringLiteral("202abc"),  QStringLiteral("it's me"), true};
    CAccount other{QStringLiteral("店主甲"), QString(), QStringLiteral("pw"), QStringLiteral("101"),
                   QStringLiteral("您好"),   false};
    CSystemSettings settings;
    settings.autorun = 1;
    settings.reflashtime = 45;
    QList<CStep> steps{
        {CAccountTable::InsertSql(owner), false},
        {CAccountTable::InsertSql(other), false},
        {CAccountTable::SaveGreetingSql(owner.userName, QStringLiteral("new 'greeting'"), false), false},
        {QStringLiteral("select * from [user]")},
        {QStringLiteral("select * from [user] where [username] ='%1'").arg(SqlText(owner.userName))},
        {Visit(QStringLiteral("alice"), owner.userName, QStringLiteral("2009-03-02 23:59:59"), "http://item/1"), false},
        {Visit(QStringLiteral("Alicia"), owner.userName, QStringLiteral("2009-03-03 14:05:09"), "http://item/1"),
         false},
        {Visit(QStringLiteral("bob'"), other.userName, QStringLiteral("2009-03-03 00:00:00"), "http://item/2"), false},
        {Visit(QStringLiteral("小雨"), other.userName, QStringLiteral("2009-03-04 08:00:00"), "http://item/1"), false},
        {Visit(QStringLiteral("alice"), other.userName, QStringLiteral("2009-03-04 09:30:00"), "http://item/3"), false},
        {QStringLiteral("select * from [client] where [guestname] = '%1'and [shopname] = '%2'")
             .arg(SqlText(QStringLiteral("bob'")), SqlText(other.userName))},
    };
    // Names that break quoting where backslashes escape, or a client encoding other than UTF-8:
    // each is stored as it is and found once by the poll's check.
    int minute = 0;
    for (const QString& name : TrickyNames()) {
        const QString time = QStringLiteral("2009-03-04 07:%1:00").arg(minute++, 2, 10, QLatin1Char('0'));
        steps << CStep{Visit(name, other.userName, time, "http://item/4"), false}
              << CStep{QStringLiteral("select * from [client] where [guestname] = '%1'and [shopname] = '%2'")
                           .arg(SqlText(name), SqlText(other.userName))}
              << CStep{HistoryVisitorSql(name)};
    }
    steps << QList<CStep>{
        {HistoryShowAllSql()},
        {QStringLiteral("select * from [client] order by [lasttime] desc")},
        {HistoryDaySql(QDate(2009, 3, 3))},
        {HistoryVisitorSql(QStringLiteral("ALI"))},
        {HistoryVisitorSql(QStringLiteral("b'"))},
        {HistoryShopSql(QStringLiteral("o'b"))},
        {HistoryVisitSql(QStringLiteral("3"))},
        {HistoryRankingSql()},
        {QStringLiteral("select * from [client] where 0")},
        {QStringLiteral("insert into [AutoSend] ([ClientName] , [UserName] , [Message]) values ('%1' , '%2' , '%3')")
             .arg(SqlText(QStringLiteral("bob'")), SqlText(other.userName), QStringLiteral("你好 [name]")),
         false},
        {QStringLiteral("select *, rowid from [AutoSend]"), true, {0, 1, 2, 3}},
        {QStringLiteral("insert into [greetlog] ([shopname], [guestname], [senttime], [ok]) values "
                        "('%1','%2','2009-03-04 08:01:00',1)")
             .arg(SqlText(other.userName), SqlText(QStringLiteral("bob'"))),
         false},
        {QStringLiteral("select count(*) from [AutoSend] where [UserName] = '%1' and not exists (select 1 from "
                        "[greetlog] where [greetlog].[shopname] = [AutoSend].[UserName] and "
                        "[greetlog].[guestname] = [AutoSend].[ClientName] and [greetlog].[ok] <> 0 and "
                        "[greetlog].[senttime] >= '2009-03-04 00:00:00')")
             .arg(SqlText(other.userName))},
        {QStringLiteral("delete from [AutoSend] where rowid in (1)"), false},
        {CSettingsTable::SaveSystemSql(settings), false},
        {QStringLiteral("select * from [sysseting] where [id] = 1")},
        {QStringLiteral("update [advsetting] set [quieton] = 1, [budget] = 9, [watchlist] = 'a''b' where [id] = 1"),
         false},
        {QStringLiteral("select [quieton],[quietfrom],[budget],[watchlist] from [advsetting] where [id] = 1")},
        {VisitLastIdSql()},
        {CGreetingLogTable::LastIdSql()},
        {QStringLiteral("select [username] from [user] order by [id]")},
    };
    for (EStatsPeriod period : {EStatsPeriod::Last7Days, EStatsPeriod::All}) {
        for (const QString& shop : {QString(), other.userName}) {
            const CStatsQuery query{shop, period, today};
            steps << CStep{StatsDayHourSql(query)} << CStep{StatsTopItemsSql(query)} << CStep{StatsTopRegionsSql(query)}
                  << CStep{StatsReturningSql(query)} << CStep{CGreetingLogTable::PerDaySql(query)};
        }
    }
    steps << CStep{HistoryDeleteRowsSql({QStringLiteral("1"), QStringLiteral("4")}), false}
          << CStep{HistoryDeleteRangeSql(QDate(2009, 3, 3), QDate(2009, 3, 3)), false} << CStep{HistoryShowAllSql()}
          << CStep{CAccountTable::DeleteSql(owner.userName), false} << CStep{QStringLiteral("select * from [user]")}
          << CStep{QStringLiteral("select * from [nosuchtable]")};
    return steps;
}

// What each step gave: a change's count of changed rows, a query's columns and every row's texts.
QStringList Transcript(CAdoConnection& connection, const QList<CStep>& steps)
{
    QStringList lines;
    for (const CStep& step : steps) {
        if (!step.query) {
            lines << QStringLiteral("changed %1").arg(connection.ExecuteChanges(step.sql));
            continue;
        }
        CAdoRecordSet recordSet(&connection);
        if (!recordSet.Open(step.sql)) {
            lines << QStringLiteral("failed");
            continue;
        }
        QList<int> positions = step.positions;
        for (int i = 0; step.positions.isEmpty() && i < recordSet.GetFieldsCount(); ++i)
            positions << i;
        // The team store's queue has columns of its own after the ones the program reads.
        lines << QStringLiteral("%1 columns")
                     .arg(step.positions.isEmpty() ? recordSet.GetFieldsCount() : int(step.positions.size()));
        QStringList rows;
        for (const QStringList& row : ReadRows(connection, step.sql, positions))
            rows << row.join(QLatin1Char('|'));
        // Without an order the stores may give the rows in any order.
        if (!step.sql.contains(QLatin1String("order by")))
            rows.sort();
        lines << rows;
    }
    return lines;
}

// What the server, the database or the environment would make of the session's texts.
enum class ESessionDefaults
{
    Plain,
    BackslashEscapes,
    GbkClient
};

class TeamStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { Begin(ESessionDefaults::Plain); }
    void TearDown() override { qunsetenv("PGCLIENTENCODING"); }

    void Begin(ESessionDefaults defaults)
    {
        QString why;
        ASSERT_TRUE(m_cluster.Start(&why)) << why.toStdString();
        if (defaults == ESessionDefaults::BackslashEscapes) {
            ASSERT_TRUE(m_cluster.Query(QStringLiteral("alter database mirel set standard_conforming_strings = off"),
                                        nullptr, &why))
                << why.toStdString();
        }
        if (defaults == ESessionDefaults::GbkClient)
            qputenv("PGCLIENTENCODING", "GBK");
        ASSERT_TRUE(m_team.ConnectTeam(m_cluster.Url(), QStringLiteral("till-1")))
            << m_team.LastOpenError().toStdString();
    }

    CPgCluster m_cluster;
    CMessageRecorder m_messages;
    CAdoConnection m_team;
};

class TeamStoreTextsTest : public TeamStoreTest, public ::testing::WithParamInterface<ESessionDefaults>
{
protected:
    void SetUp() override { Begin(GetParam()); }
};

TEST_P(TeamStoreTextsTest, ProgramStatementsGiveTheSameTextsOnBothStores)
{
    CTeamListener listener(m_cluster.Url());
    QStringList heard;
    QObject::connect(&listener, &CTeamListener::VisitRecorded, &listener, [&heard](qint64 id, const QString& machine) {
        heard << QStringLiteral("%1 %2").arg(id).arg(machine);
    });
    ASSERT_TRUE(WaitUntil([&] { return listener.IsListening(); }));
    QTemporaryDir dir;
    CAdoConnection local;
    ASSERT_TRUE(local.Connect(dir.filePath(QStringLiteral("Info.mdb"))));
    const QList<CStep> steps = ProgramSteps();
    const QStringList expected = Transcript(local, steps);
    const QStringList got = Transcript(m_team, steps);
    for (qsizetype i = 0; i < qMax(expected.size(), got.size()); ++i)
        ASSERT_EQ(got.value(i).toStdString(), expected.value(i).toStdString()) << "transcript line " << i;
    EXPECT_TRUE(m_team.IsTeamStore());
    EXPECT_FALSE(local.IsTeamStore());

    // Page views: each kept once with the account's number, read back alike by the statistics.
    for (CAdoConnection* store : {&local, &m_team}) {
        CAdoConnection* const previous = std::exchange(g_pConnection, store);
        const auto view = [](qint64 seq, const char* time) {
            return CPageView{seq, QStringLiteral("1.2.3.%1").arg(seq), QStringLiteral("中国 上海"),
                             QStringLiteral("http://item/%1'").arg(seq % 2), QString::fromLatin1(time)};
        };
        EXPECT_EQ(CPageViewTable::Record(QStringLiteral("店主甲"),
                                         {view(1, "2009-03-03 23:00:00"), view(2, "2009-03-04 08:00:00")}, 2),
                  2);
        EXPECT_EQ(CPageViewTable::Record(QStringLiteral("店主甲"),
                                         {view(2, "2009-03-04 08:00:00"), view(3, "2009-03-04 08:30:00")}, 3),
                  1);
        EXPECT_EQ(CPageViewTable::LastSeq(QStringLiteral("店主甲")), 3);
        g_pConnection = previous;
    }
    QList<CStep> viewSteps{{QStringLiteral("select * from [pageview] order by [seq]")}};
    for (EStatsPeriod period : {EStatsPeriod::Today, EStatsPeriod::All}) {
        for (const QString& shop : {QString(), QStringLiteral("店主甲")}) {
            const CStatsQuery query{shop, period, QDate(2009, 3, 4)};
            viewSteps << CStep{CPageViewTable::DayHourSql(query)} << CStep{CPageViewTable::TopItemsSql(query)}
                      << CStep{CPageViewTable::TopRegionsSql(query)};
        }
    }
    EXPECT_EQ(Transcript(m_team, viewSteps), Transcript(local, viewSteps));
    // No name forged a visit notice: every one up to a last visit's is a real visit's.
    ASSERT_EQ(m_team.ExecuteChanges(Visit(QStringLiteral("last"), QStringLiteral("s"), "2009-03-05 00:00:00", "x")), 1);
    const QStringList last = ReadColumn(m_team, QStringLiteral("select max([id]) from [client]"), 0);
    EXPECT_TRUE(WaitUntil([&] { return heard.contains(last.value(0) + QStringLiteral(" till-1")); }));
    for (const QString& notice : heard)
        EXPECT_TRUE(notice.endsWith(QLatin1String(" till-1"))) << notice.toStdString();

    // A visitor another machine recorded first: the insert does nothing, and says so.
    const QString again = Visit(QStringLiteral("alice"), QStringLiteral("店主甲"), "2009-03-04 10:00:00", "x");
    EXPECT_EQ(local.ExecuteChanges(again), 1);
    EXPECT_EQ(m_team.ExecuteChanges(again), 0);

    // Each machine has its own settings row.
    CAdoConnection second;
    ASSERT_TRUE(second.ConnectTeam(m_cluster.Url(), QStringLiteral("till-2")));
    EXPECT_EQ(ReadRows(second, QStringLiteral("select * from [sysseting] where [id] = 1"), {1, 3}),
              (QList<QStringList>{{"FALSE", "30"}}));
    EXPECT_EQ(ReadRows(m_team, QStringLiteral("select * from [sysseting] where [id] = 1"), {1, 3}),
              (QList<QStringList>{{"TRUE", "45"}}));
    EXPECT_EQ(second.MachineName().toStdString(), "till-2");
    const QString advanced = QStringLiteral("select [quieton],[budget],[watchlist] from [advsetting] where [id] = 1");
    EXPECT_EQ(ReadRows(second, advanced, {0, 1, 2}), (QList<QStringList>{{"FALSE", "50", ""}}));
    EXPECT_EQ(ReadRows(m_team, advanced, {0, 1, 2}), (QList<QStringList>{{"TRUE", "9", "a'b"}}));

    // Rows come as the server sends them: a statement in the middle of a reading, and a reader
    // that stops early, leave the session sound.
    {
        CAdoRecordSet rows(&m_team);
        ASSERT_TRUE(rows.Open(QStringLiteral("select * from generate_series(1, 1000)")));
        EXPECT_EQ(m_team.ExecuteChanges(QStringLiteral("update [client] set [count] = 7 where [guestname] = 'last'")),
                  1);
        int read = 0;
        for (; !rows.IsEOF() && read < 2000; rows.MoveNext())
            ++read;
        EXPECT_EQ(read, 1000);
        ASSERT_TRUE(rows.Open(QStringLiteral("select generate_series(1, 100000000)")));
    }
    EXPECT_EQ(ReadColumn(m_team, QStringLiteral("select [count] from [client] where [guestname] = 'last'"), 0),
              QStringList{"7"});

    // The window's statements end by a time-out; a worker's may read a long table.
    m_team.SetWindowThread(QThread::currentThread());
    EXPECT_EQ(ReadColumn(m_team, QStringLiteral("show statement_timeout"), 0), QStringList{"10s"});
    QStringList worker;
    std::thread([&] { worker = ReadColumn(m_team, QStringLiteral("show statement_timeout"), 0); }).join();
    EXPECT_EQ(worker, QStringList{"0"});
}

INSTANTIATE_TEST_SUITE_P(SessionDefaults, TeamStoreTextsTest,
                         ::testing::Values(ESessionDefaults::Plain, ESessionDefaults::BackslashEscapes,
                                           ESessionDefaults::GbkClient));

// The visits' owner on each store: the history page's deletes (a long run of ids as a range,
// the rest as a list; a day), the upkeep's steps, one visitor's rows and the reads agree.
TEST_F(TeamStoreTest, TheVisitsOwnerTakesTheSameVisitsOnBothStores)
{
    const auto restore = qScopeGuard([previous = g_pConnection] { g_pConnection = previous; });
    const auto run = [](CAdoConnection& store) {
        g_pConnection = &store;
        for (int i = 0; i < 200; ++i) {
            const QString time =
                QStringLiteral("2009-03-0%1 10:%2:00").arg(1 + i / 50).arg(i % 50, 2, 10, QLatin1Char('0'));
            store.Execute(Visit(QStringLiteral("v%1").arg(i), QStringLiteral("s"), time, QStringLiteral("x")));
        }
        store.Execute(Visit(QStringLiteral("v120"), QStringLiteral("t"), QStringLiteral("2009-03-05 00:00:00"), "x"));
        const QStringList ids = ReadColumn(store, QStringLiteral("select [id] from [client] order by [id]"), 0);
        const auto id = [&ids](int i) { return ids.value(i).toLongLong(); };
        std::vector<qint64> chosen{-3, id(150), id(152)};
        for (int i = 10; i < 110; ++i)
            chosen.push_back(id(i));
        QStringList log{
            QStringLiteral("ids %1").arg(int(CVisitTable::DeleteIds(chosen))),
            QStringLiteral("day %1").arg(int(CVisitTable::DeleteDays(QDate(2009, 3, 4), QDate(2009, 3, 4))))};
        for (int most : {5, 50})
            log << QStringLiteral("before %1").arg(CVisitTable::DeleteBefore(QStringLiteral("2009-03-02"), most));
        log << QStringLiteral("visitor %1").arg(CVisitTable::DeleteVisitor(QStringLiteral("v120")))
            << QStringLiteral("views %1").arg(CPageViewTable::DeleteBefore(QStringLiteral("2009-03-02"), 5));
        QList<CVisitRow> latest, byIds;
        const bool read = CVisitTable::Latest(3, latest) && CVisitTable::ByIds({id(0), id(111), id(130)}, byIds);
        QStringList names;
        for (const CVisitRow& row : latest + byIds)
            names << row.guestName;
        log << QStringLiteral("read %1: %2").arg(int(read)).arg(names.join(QLatin1Char(' ')))
            << QStringLiteral("left %1").arg(ReadColumn(store, QStringLiteral("select [id] from [client]"), 0).size());
        return log;
    };
    QTemporaryDir dir;
    CAdoConnection local;
    ASSERT_TRUE(local.Connect(dir.filePath(QStringLiteral("Info.mdb"))));
    const std::string expected =
        "ids 1|day 1|before 5|before 5|visitor 2|views 0|read 1: v149 v148 v147 v130 v111|left 39";
    EXPECT_EQ(run(local).join(QLatin1Char('|')).toStdString(), expected);
    EXPECT_EQ(run(m_team).join(QLatin1Char('|')).toStdString(), expected);
}

TEST_F(TeamStoreTest, AStoreOfAnEarlierVersionIsUpgradedAtStart)
{
    // One [advsetting] row shared by every machine, and no record of which machine recorded a visit.
    ASSERT_EQ(m_team.ExecuteChanges(QStringLiteral("update [advsetting] set [budget] = 9, [watchlist] = 'w' where "
                                                   "[id] = 1")),
              1);
    QString why;
    ASSERT_TRUE(m_cluster.Query(QStringLiteral("drop view advsetting; alter table advsetting_all rename to advsetting; "
                                               "alter table advsetting drop column machine; alter table advsetting "
                                               "add constraint advsetting_pkey primary key (id); drop table "
                                               "visit_origin; drop table pageview; alter table \"user\" drop "
                                               "column viewseq"),
                                nullptr, &why))
        << why.toStdString();
    CAdoConnection upgraded;
    ASSERT_TRUE(upgraded.ConnectTeam(m_cluster.Url(), QStringLiteral("till-3")))
        << upgraded.LastOpenError().toStdString();
    const QString advanced = QStringLiteral("select [budget],[watchlist] from [advsetting] where [id] = 1");
    EXPECT_EQ(ReadRows(upgraded, advanced, {0, 1}), (QList<QStringList>{{"9", "w"}}));
    ASSERT_EQ(upgraded.ExecuteChanges(QStringLiteral("update [advsetting] set [budget] = 3 where [id] = 1")), 1);
    ASSERT_EQ(upgraded.ExecuteChanges(Visit("v1", "shop", "2009-03-04 10:00:00", "x")), 1);
    QStringList rows;
    EXPECT_TRUE(m_cluster.Query(QStringLiteral("select machine || ' ' || budget from advsetting_all union all "
                                               "select 'visit by ' || machine from visit_origin order by 1"),
                                &rows, &why))
        << why.toStdString();
    EXPECT_EQ(rows, (QStringList{" 9", "till-3 3", "visit by till-3"}));
    ASSERT_TRUE(upgraded.Execute(QStringLiteral("insert into [user] ([username]) values ('shop')")));
    const CPageView view{7, QStringLiteral("1.2.3.4"), QString(), QStringLiteral("x"), QString()};
    CAdoConnection* const previous = std::exchange(g_pConnection, &upgraded);
    EXPECT_EQ(CPageViewTable::Record(QStringLiteral("shop"), {view, view}, 7), 1);
    EXPECT_EQ(CPageViewTable::LastSeq(QStringLiteral("shop")), 7);
    g_pConnection = previous;
}

TEST_F(TeamStoreTest, StartChoosesTheStoreAndTellsARefusal)
{
    QTemporaryDir dir;
    const auto writeIni = [&dir](const QString& url) {
        QSettings ini(dir.filePath(QStringLiteral("mirelhelper.ini")), QSettings::IniFormat);
        ini.setValue(QStringLiteral("store/backend"), QStringLiteral("postgresql"));
        ini.setValue(QStringLiteral("store/url"), url);
    };
    // A database the server does not have: one message with the server's words, and the program runs on.
    writeIni(m_cluster.Url() + QStringLiteral("-none"));
    EXPECT_FALSE(OpenStore(dir.path()));
    ASSERT_EQ(m_messages.Count(), 1u);
    EXPECT_TRUE(m_messages.Shown()[0].text.contains(QLatin1String("\"mirel-none\" does not exist")))
        << m_messages.Shown()[0].text.toStdString();
    EXPECT_FALSE(g_pConnection->IsOpen());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Info.mdb"))));

    // The shared queue outlives a machine's start.
    ASSERT_EQ(m_team.ExecuteChanges(QStringLiteral("insert into [AutoSend] ([ClientName]) values ('v')")), 1);
    writeIni(m_cluster.Url());
    EXPECT_TRUE(OpenStore(dir.path()));
    EXPECT_TRUE(g_pConnection->IsTeamStore());
    EXPECT_EQ(g_pConnection->MachineName(), QSysInfo::machineHostName());
    EXPECT_EQ(ReadColumn(*g_pConnection, QStringLiteral("select * from [AutoSend]"), 0), QStringList{"v"});
    EXPECT_EQ(m_messages.Count(), 1u);
    CloseStore();
}

TEST_F(TeamStoreTest, AServerAwayIsFoundAgain)
{
    CRecordingNotifier notifier;
    CTeamListener listener(m_cluster.Url());
    QStringList heard;
    QObject::connect(&listener, &CTeamListener::VisitRecorded, &listener, [&heard](qint64 id, const QString& machine) {
        heard << QStringLiteral("%1 %2").arg(id).arg(machine);
    });
    ASSERT_TRUE(WaitUntil([&] { return listener.IsListening(); }));
    ASSERT_EQ(m_team.ExecuteChanges(Visit("v1", "shop", "2009-03-04 10:00:00", "x")), 1);
    EXPECT_TRUE(WaitUntil([&] { return heard == QStringList{"1 till-1"}; })) << heard.join(',').toStdString();

    m_cluster.Stop();
    // The failing statement and one on a worker's session, both at once, not after a wait.
    EXPECT_EQ(m_team.ExecuteChanges(QStringLiteral("update [client] set [count] = 2")), -1);
    int workerChanged = 0;
    std::thread([this, &workerChanged] {
        workerChanged = m_team.ExecuteChanges(QStringLiteral("update [client] set [count] = 2"));
    }).join();
    EXPECT_EQ(workerChanged, -1);
    EXPECT_FALSE(m_team.IsReachable());
    EXPECT_TRUE(WaitUntil([&] { return notifier.StatusTextsOnly().contains(TeamLostText()); }));

    QString why;
    ASSERT_TRUE(m_cluster.Start(&why)) << why.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return m_team.IsReachable() && listener.IsListening(); }, 40000));
    EXPECT_EQ(m_team.ExecuteChanges(QStringLiteral("update [client] set [count] = 3")), 1);
    std::thread([this, &workerChanged] {
        workerChanged = m_team.ExecuteChanges(Visit("v2", "shop", "2009-03-04 10:01:00", "x"));
    }).join();
    EXPECT_EQ(workerChanged, 1);
    // The worker's session ended with its thread: this thread's and the listener's are left.
    QStringList sessions;
    EXPECT_TRUE(WaitUntil([&] {
        return m_cluster.Query(QStringLiteral("select count(*) from pg_stat_activity where application_name like "
                                              "'mirelhelper%'"),
                               &sessions) &&
               sessions == QStringList{"2"};
    })) << sessions.join(',').toStdString();
    EXPECT_TRUE(WaitUntil([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard.value(1).toStdString(), "2 till-1");

    // A visit committed while the listener's session is gone is told after it is back, once.
    ASSERT_TRUE(m_cluster.Query(
        QStringLiteral("begin; select set_config('mirel.machine', 'till-2', true); insert into client (guestname, "
                       "shopname) values ('v3', 'shop'); select pg_terminate_backend(pid, 30000) from "
                       "pg_stat_activity where application_name = 'mirelhelper-listener'; commit"),
        nullptr, &why))
        << why.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return heard.size() == 3 && listener.IsListening(); }, 40000))
        << heard.join(',').toStdString();
    EXPECT_EQ(heard.value(2).toStdString(), "3 till-2");
    QCoreApplication::processEvents();
    EXPECT_EQ(heard.size(), 3);
}

} // namespace
