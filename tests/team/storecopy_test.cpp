// mirelhelper --copy-store-to-team, run as the owner runs it: a local store
// with texts that need care (quotes, brackets of a greeting template, Chinese,
// nothing at all) goes into a fresh team store intact and only once.
#include "store/AdoConnection.h"
#include "store/StoreConfig.h"
#include "support/PgCluster.h"
#include "support/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct CRun
{
    int code = -1;
    QString output;
};

CRun CopyToTeam(const QString& home)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MIRELHELP_HOME"), home);
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--copy-store-to-team")});
    CRun run;
    if (program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit)
        run.code = program.exitCode();
    run.output = QString::fromUtf8(program.readAll());
    return run;
}

bool WriteIni(const QString& home, const QString& storeGroup)
{
    QFile ini(home + QStringLiteral("/mirelhelper.ini"));
    return ini.open(QIODevice::WriteOnly) && ini.write(storeGroup.toUtf8()) > 0;
}

} // namespace

TEST(StoreCopyTest, CopiesOnceAndKeepsTexts)
{
    CPgCluster cluster;
    QString why;
    ASSERT_TRUE(cluster.Start(&why)) << why.toStdString();
    QTemporaryDir home;
    {
        CAdoConnection local;
        ASSERT_TRUE(local.Connect(home.filePath(QStringLiteral("Info.mdb"))));
        for (const char* sql : {
                 "insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend],"
                 "[viewseq]) values ('小鱼的店','xiaoyu','pw','10001','亲爱的 [username], it''s #1#! "
                 "[randomcode]',1,42)",
                 "insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend],"
                 "[viewseq]) values ('Vexa','vexa_im','p''w','10002','',0,7),('Lumo','lumo','pw','10003','',0,2)",
                 "insert into [client] ([guestname],[ip],[shopname],[lasttime],[count],[city],[shopurl],[imuid]) "
                 "values ('O''Neil','61.135.169.121','Vexa',#2024-05-18 09:12:44#,3,'北京市','http://i/1','w01')",
                 "insert into [client] ([guestname],[ip],[shopname],[lasttime],[count],[city],[shopurl],[imuid]) "
                 "values ('杭州的李','115.236.112.38','小鱼的店',#2024-05-17 22:31:50#,7,'浙江省 杭州市','',null)",
                 "insert into [greetlog] ([shopname],[guestname],[senttime],[ok]) "
                 "values ('小鱼的店','杭州的李',#2024-05-17 22:32:10#,1)",
                 "insert into [greetlog] ([shopname],[guestname],[senttime],[ok],[reason]) "
                 "values ('Vexa','O''Neil',#2024-05-18 09:13:00#,0,'没有找到聊天窗口')",
                 "insert into [pageview] ([shopname],[ip],[city],[shopurl],[viewtime],[seq]) values "
                 "('小鱼的店','115.236.112.38','浙江省','http://i/2','2024-05-17 22:31:49',41),"
                 "('小鱼的店','115.236.112.38','浙江省','http://i/''3','2024-05-17 22:31:50',42)",
             }) {
            ASSERT_TRUE(local.Execute(QString::fromUtf8(sql))) << sql;
        }
    }
    // Whatever of the url may hold a password is never shown.
    const QString url = cluster.Url() + QStringLiteral("?password=secret-1&sslpassword=secret-2&options=-c%20"
                                                       "application_name%3Dsecret-3");
    ASSERT_TRUE(WriteIni(home.path(), QStringLiteral("[store]\nbackend=postgresql\nurl=%1\nmachine=mover\n").arg(url)));

    const CRun first = CopyToTeam(home.path());
    EXPECT_EQ(first.code, 0) << first.output.toStdString();
    EXPECT_TRUE(first.output.contains(QStringLiteral("into the team store ") + TeamUrlForDisplay(url)))
        << first.output.toStdString();
    EXPECT_TRUE(TeamUrlForDisplay(url).contains(QLatin1String("dbname=mirel"))) << TeamUrlForDisplay(url).toStdString();
    EXPECT_FALSE(first.output.contains(QLatin1String("secret"))) << first.output.toStdString();
    EXPECT_TRUE(first.output.contains(QStringLiteral("3 accounts, 2 visits, 2 greeting log rows, 2 page views copied; "
                                                     "already there: 0 accounts, 0 visits, 0 greeting log rows, 0 page "
                                                     "views; 0 rows")))
        << first.output.toStdString();
    const CRun second = CopyToTeam(home.path());
    EXPECT_EQ(second.code, 0) << second.output.toStdString();
    EXPECT_TRUE(second.output.contains(QStringLiteral("0 accounts, 0 visits, 0 greeting log rows, 0 page views "
                                                      "copied; already there: 3 accounts, 2 visits, 2 greeting log "
                                                      "rows, 2 page views; 0 rows")))
        << second.output.toStdString();

    QStringList rows;
    ASSERT_TRUE(
        cluster.Query(QStringLiteral("select username, password || viewseq, messageinfo, autosend from \"user\" "
                                     "union all select guestname, lasttime, coalesce(imuid, '(null)'), count "
                                     "from client union all select guestname, senttime, shopname || "
                                     "coalesce(reason, ''), ok from greetlog union all select shopname, "
                                     "viewtime, shopurl, seq from pageview order by 1, 2"),
                      &rows, &why))
        << why.toStdString();
    EXPECT_EQ(rows.join(QLatin1Char('\n')).toStdString(), "Lumo|pw2||0\n"
                                                          "O'Neil|2024-05-18 09:12:44|w01|3\n"
                                                          "O'Neil|2024-05-18 09:13:00|Vexa没有找到聊天窗口|0\n"
                                                          "Vexa|p'w7||0\n"
                                                          "小鱼的店|2024-05-17 22:31:49|http://i/2|41\n"
                                                          "小鱼的店|2024-05-17 22:31:50|http://i/'3|42\n"
                                                          "小鱼的店|pw42|亲爱的 [username], it's #1#! [randomcode]|1\n"
                                                          "杭州的李|2024-05-17 22:31:50|(null)|7\n"
                                                          "杭州的李|2024-05-17 22:32:10|小鱼的店|1");

    // Rows an earlier copy left behind: only a lower view number of the same web ID is raised, a reason given.
    ASSERT_TRUE(cluster.Query(QStringLiteral("update \"user\" set viewseq = 3, webid = replace(webid, '10002', '9'); "
                                             "update greetlog set reason = null"),
                              nullptr, &why))
        << why.toStdString();
    const CRun mended = CopyToTeam(home.path());
    EXPECT_TRUE(mended.output.contains(QLatin1String("2 page views; 2 rows"))) << mended.output.toStdString();

    // A data directory that does not choose the team store is refused with the reason.
    ASSERT_TRUE(WriteIni(home.path(), QStringLiteral("[store]\nbackend=sqlite\n")));
    const CRun refused = CopyToTeam(home.path());
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.output.contains(QStringLiteral("backend=postgresql"))) << refused.output.toStdString();
}
