#include "support/TestMain.h"

#include "iploc/QQwry.h"
#include "platform/DataDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The data directory gets the shipped QQWry.Dat the first time it is asked
// for, and keeps its own copy afterwards.
TEST(IpDataFile, ShippedCopyIsCopiedIntoAnEmptyDataDirectory)
{
    QTemporaryDir home;
    SetDataDirectory(home.path());
    const QString shipped = QStringLiteral(MIREL_QQWRY_FILE);
    const QString own = home.filePath(QStringLiteral("QQWry.Dat"));
    ASSERT_FALSE(QFile::exists(own));

    const QString path = IpDataFilePathFrom({home.filePath(QStringLiteral("absent/QQWry.Dat")), shipped});
    EXPECT_EQ(path, own);
    EXPECT_EQ(ReadAll(own), ReadAll(shipped));
    SEU_QQwry reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Lookup(QStringLiteral("8.8.8.8")),
              QStringLiteral("美国加利福尼亚州圣克拉拉县山景市 谷歌公司DNS服务器"));

    // An existing file in the data directory is never replaced.
    QFile mine(own);
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly | QIODevice::Truncate));
    mine.write("mine");
    mine.close();
    EXPECT_EQ(IpDataFilePathFrom({shipped}), own);
    EXPECT_EQ(ReadAll(own), QByteArray("mine"));
}

TEST(IpDataFile, NothingShippedLeavesTheDataDirectoryPath)
{
    QTemporaryDir home;
    SetDataDirectory(home.path());
    const QString own = home.filePath(QStringLiteral("QQWry.Dat"));
    EXPECT_EQ(IpDataFilePathFrom({home.filePath(QStringLiteral("none.dat"))}), own);
    EXPECT_FALSE(QFile::exists(own));
    SEU_QQwry reader;
    EXPECT_FALSE(reader.Open(own));
    EXPECT_EQ(reader.Lookup(QStringLiteral("8.8.8.8")), QStringLiteral("没有查到相关信息"));
}

TEST(IpDataFile, DataDirectoryThatCannotTakeTheCopyReadsItInPlace)
{
    QTemporaryDir base;
    // A plain file where the data directory should be: nothing can be written below it, not even by root.
    const QString blocked = base.filePath(QStringLiteral("home"));
    SetDataDirectory(blocked);
    ASSERT_TRUE(QDir(blocked).removeRecursively());
    QFile plug(blocked);
    ASSERT_TRUE(plug.open(QIODevice::WriteOnly));
    plug.close();

    const QString shipped = QStringLiteral(MIREL_QQWRY_FILE);
    EXPECT_EQ(IpDataFilePathFrom({shipped}), shipped);
    EXPECT_TRUE(QFileInfo(blocked).isFile());
}

} // namespace
