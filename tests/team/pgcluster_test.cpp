// The throwaway server every team test stands on: its socket inside its own
// folder and nothing else, for its owner alone, data kept over a restart, gone
// with the object.
#include "support/PgCluster.h"
#include "support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QUrl>

#include <unistd.h>

TEST(PgClusterTest, StartsRestartsAndCleansUp)
{
    QString folder;
    {
        CPgCluster cluster;
        QString why;
        ASSERT_TRUE(cluster.Start(&why)) << why.toStdString();
        folder = cluster.Folder();
        ASSERT_TRUE(cluster.IsRunning());
        QStringList rows;
        ASSERT_TRUE(
            cluster.Query(QStringLiteral("select current_setting('listen_addresses'), inet_server_addr() is null, "
                                         "current_user, rolsuper from pg_roles where rolname = current_user"),
                          &rows, &why))
            << why.toStdString();
        EXPECT_EQ(rows.join(QLatin1Char(';')).toStdString(), "|t|mirel|f");
        EXPECT_TRUE(cluster.Url().contains(QString::fromUtf8(QUrl::toPercentEncoding(folder))))
            << cluster.Url().toStdString();
        // Another local user gets nowhere with the url; the owner does.
        const auto psqlAs = [&cluster](const QStringList& runuser) {
            QProcess psql;
            psql.setWorkingDirectory(QDir::rootPath());
            const QStringList command{QStringLiteral("psql"), QStringLiteral("-X"), QStringLiteral("-c"),
                                      QStringLiteral("select 1"), cluster.Url()};
            if (runuser.isEmpty())
                psql.start(command.first(), command.mid(1));
            else
                psql.start(QStringLiteral("runuser"), runuser + command);
            return psql.waitForFinished(30000) && psql.exitStatus() == QProcess::NormalExit ? psql.exitCode() : -1;
        };
        EXPECT_EQ(psqlAs({}), 0);
        if (::getuid() == 0) {
            EXPECT_EQ(psqlAs({QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--")}), 2);
        }

        ASSERT_TRUE(cluster.Query(QStringLiteral("create table kept (name text); insert into kept values ('小雨')"),
                                  nullptr, &why))
            << why.toStdString();
        const QString url = cluster.Url();
        cluster.Restart();
        EXPECT_EQ(cluster.Url().toStdString(), url.toStdString());
        ASSERT_TRUE(cluster.Query(QStringLiteral("select name from kept"), &rows, &why)) << why.toStdString();
        EXPECT_EQ(rows.join(QLatin1Char(';')).toStdString(), "小雨");

        cluster.Stop();
        EXPECT_FALSE(cluster.IsRunning());
        EXPECT_FALSE(cluster.Query(QStringLiteral("select 1")));
    }
    EXPECT_FALSE(QDir(folder).exists()) << folder.toStdString();
}
