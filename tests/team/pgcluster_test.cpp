// The throwaway server every team test stands on: loopback only, its socket
// inside its own folder, data kept over a restart, gone with the object.
#include "support/PgCluster.h"
#include "support/TestMain.h"

#include <QDir>

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
        ASSERT_TRUE(cluster.Query(QStringLiteral("select current_setting('listen_addresses'), "
                                                 "current_setting('unix_socket_directories'), current_user"),
                                  &rows, &why))
            << why.toStdString();
        EXPECT_EQ(rows.join(QLatin1Char(';')).toStdString(),
                  QStringLiteral("127.0.0.1|%1|mirel").arg(folder).toStdString());

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
