#include "support/TestMain.h"

#include "support/StoreTestSupport.h"

#include "store/Columns.h"
#include "store/Schema.h"
#include "store/StoreStartup.h"
#include "tables/PageViewTable.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <sqlite3.h>

#include <atomic>
#include <thread>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList ColumnsOf(const QString& table)
{
    CAdoRecordSet rs(g_pConnection);
    QStringList names;
    if (!rs.Open("select * from [" + table + "]"))
        return {"<did not open>"};
    for (int i = 0; i < rs.GetFieldsCount(); ++i)
        names.append(rs.GetFieldName(i));
    return names;
}

// A store file as an older version left it: no AddRandom, the IM-ID column under
// its earlier name, two visits, a queued greeting.
void WriteOldStore(const QString& path)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    const char* sql =
        "create table [user] ([id] integer primary key autoincrement, [username] Text, "
        "[usersmailname] Text, [password] Text, [webid] Text, [messageinfo] Text, [autosend] YesNo);"
        "insert into [user] ([username],[webid]) values ('s','7');"
        "create table [sysseting] ([id] Long, [autorun] YesNo, [clienttip] YesNo, [reflashtime] Long, "
        "[sendsteptime] Long, [autosendname] Text, [hiedition] Long, [guesttip] YesNo, [playsound] YesNo);"
        "insert into [sysseting] values (1,1,0,99,7,'NULL',0,0,0);"
        "create table [client] ([id] integer primary key autoincrement, [guestname] Text, [ip] Text, "
        "[shopname] Text, [lasttime] DateTime, [count] Long, [city] Text, [shopurl] Text, [earlier_im] Text);"
        "insert into [client] values (1,'甲','1.2.3.4','s','2024-01-02 03:04:05',1,'北京','http://a/1','u1');"
        "insert into [client] values (2,'O''Brien','0.0.0.0','s','2024-01-02 03:04:06',1,'未知区域','未知链接','u2');"
        "create table [AutoSend] ([ClientName] Text, [UserName] Text, [Message] Text);"
        "insert into [AutoSend] values ('left','over','greeting');";
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

class StoreStartupTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { CloseStore(); }
    QString Path() const { return m_dir.filePath("Info.mdb"); }

    QTemporaryDir m_dir;
    CMessageRecorder m_messages;
};

TEST_F(StoreStartupTest, AMissingFileIsCreatedWithTheFourTablesAndTheSettingsRow)
{
    ASSERT_FALSE(QFileInfo::exists(Path()));
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_NE(g_pConnection, nullptr);
    EXPECT_TRUE(g_pConnection->IsOpen());
    EXPECT_EQ(m_messages.Count(), 0u);
    EXPECT_TRUE(ReadAll(Path()).startsWith(QByteArray("SQLite format 3\0", 16)));

    EXPECT_EQ(ColumnsOf("user"), (QStringList{"id", "username", "usersmailname", "password", "webid", "messageinfo",
                                              "autosend", "viewseq"}));
    EXPECT_EQ(ColumnsOf("pageview"), (QStringList{"id", "shopname", "ip", "city", "shopurl", "viewtime", "seq"}));
    EXPECT_EQ(ColumnsOf("sysseting"), (QStringList{"id", "autorun", "clienttip", "reflashtime", "sendsteptime",
                                                   "autosendname", "hiedition", "guesttip", "playsound", "AddRandom"}));
    EXPECT_EQ(ColumnsOf("client"),
              (QStringList{"id", "guestname", "ip", "shopname", "lasttime", "count", "city", "shopurl", "imuid"}));
    EXPECT_EQ(ColumnsOf("AutoSend"), (QStringList{"ClientName", "UserName", "Message"}));
    // The named positions the readers use stand where the new store puts those columns.
    EXPECT_EQ(ColumnsOf("user").value(UserColumn::kAutoSend), "autosend");
    EXPECT_EQ(ColumnsOf("user").value(UserColumn::kUserSmallName), "usersmailname");
    EXPECT_EQ(ColumnsOf("user").value(UserColumn::kViewSeq), "viewseq");
    EXPECT_EQ(ColumnsOf("pageview").value(PageViewColumn::kSeq), "seq");
    EXPECT_EQ(ColumnsOf("sysseting").value(SettingsColumn::kPlaySound), "playsound");
    EXPECT_EQ(ColumnsOf("client").value(ClientColumn::kShopUrl), "shopurl");
    EXPECT_EQ(ColumnsOf("client").value(ClientColumn::kImUid), "imuid");
    EXPECT_EQ(ColumnsOf("AutoSend").value(AutoSendColumn::kMessage), "Message");
    EXPECT_EQ(ReadRows(*g_pConnection, "select * from [sysseting]", {0, 1, 2, 3, 4, 5, 6, 7, 8}),
              (QList<QStringList>{{"1", "FALSE", "TRUE", "30", "6", "NULL", "0", "TRUE", "TRUE"}}));
    EXPECT_EQ(ReadColumn(*g_pConnection, "pragma journal_mode", 0), QStringList{"wal"});
    EXPECT_TRUE(ReadRows(*g_pConnection, "select * from [user]", {0}).isEmpty());

    // AutoNumber keys count up from 1.
    ASSERT_TRUE(g_pConnection->Execute("insert into [client] ([guestname]) values ('a')"));
    ASSERT_TRUE(g_pConnection->Execute("insert into [client] ([guestname]) values ('b')"));
    EXPECT_EQ(ReadColumn(*g_pConnection, "select * from [client] order by [id]", 0), (QStringList{"1", "2"}));
}

TEST_F(StoreStartupTest, AMissingDataDirectoryAndAnEmptyFileAreMadeIntoStores)
{
    const QString nested = m_dir.filePath("a/b");
    ASSERT_TRUE(OpenStore(nested));
    EXPECT_TRUE(QFileInfo::exists(nested + "/Info.mdb"));
    CloseStore();

    // A zero-length file holds nothing that could be lost.
    ASSERT_TRUE(WriteAll(Path(), QByteArray()));
    ASSERT_TRUE(OpenStore(m_dir.path()));
    EXPECT_EQ(ColumnsOf("AutoSend"), (QStringList{"ClientName", "UserName", "Message"}));
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(StoreStartupTest, StartEmptiesTheQueueAddsTheMissingColumnAndNamesTheImIdColumn)
{
    WriteOldStore(Path());
    ASSERT_TRUE(OpenStore(m_dir.path()));
    EXPECT_TRUE(ReadRows(*g_pConnection, "select * from [AutoSend]", {0}).isEmpty());
    EXPECT_EQ(ColumnsOf("sysseting").value(9), "AddRandom");
    EXPECT_EQ(ColumnsOf("sysseting").size(), 10);
    // The row itself is kept; the new column reads as a Yes/No.
    EXPECT_EQ(ReadRows(*g_pConnection, "select * from [sysseting] where [id] = 1", {1, 3, 4, 9}),
              (QList<QStringList>{{"TRUE", "99", "7", "FALSE"}}));
    const QList<QStringList> visits{{"1", "甲", "北京", "http://a/1", "u1"},
                                    {"2", "O'Brien", "未知区域", "未知链接", "u2"}};
    EXPECT_EQ(ColumnsOf("client").value(8), "imuid");
    // The accounts gain their last view number (none seen yet), and the page views their table.
    EXPECT_EQ(ReadRows(*g_pConnection, "select * from [user]", {1, 4, 7}), (QList<QStringList>{{"s", "7", "0"}}));
    EXPECT_EQ(CPageViewTable::LastSeq("s"), 0);
    EXPECT_EQ(ColumnsOf("pageview").size(), 7);
    EXPECT_EQ(ReadRows(*g_pConnection, "select [id],[guestname],[city],[shopurl],[imuid] from [client] order by [id]",
                       {0, 1, 2, 3, 4}),
              visits);
    CloseStore();
    // A second start finds both columns and changes nothing more.
    ASSERT_TRUE(OpenStore(m_dir.path()));
    EXPECT_EQ(ColumnsOf("sysseting").size(), 10);
    EXPECT_EQ(ColumnsOf("client").size(), 9);
    EXPECT_EQ(ColumnsOf("user").size(), 8);
    EXPECT_EQ(ReadRows(*g_pConnection, "select * from [client] order by [id]", {0, 1, 6, 7, 8}), visits);
    // The greeting log and the visitor list's indexes came with the first start, once; the
    // statistics indexes come when asked for, and their visitor index replaces the one without
    // time, for good.
    const auto indexes = [] {
        return ReadColumn(*g_pConnection,
                          "select [name] from sqlite_master where [tbl_name] in ('client', 'greetlog') and "
                          "[name] <> 'client' order by [name]",
                          0);
    };
    EXPECT_EQ(indexes(), (QStringList{"client_guest_shop", "client_lasttime", "greetlog"}));
    for (const QString& statement : StatisticsIndexWork(g_pConnection))
        ASSERT_TRUE(g_pConnection->Execute(statement));
    EXPECT_TRUE(StatisticsIndexWork(g_pConnection).isEmpty());
    CloseStore();
    ASSERT_TRUE(OpenStore(m_dir.path()));
    EXPECT_EQ(indexes(), (QStringList{"client_guest_shop_time", "client_hour_shop", "client_item_shop",
                                      "client_lasttime", "client_region_shop", "greetlog", "greetlog_senttime"}));
    EXPECT_EQ(m_messages.Count(), 0u);
}

// Replies of the service one after another: each view kept once by shop and number, with
// the account's number, or nothing at all.
TEST_F(StoreStartupTest, PageViewsAreKeptOnceWithTheAccountsNumberOrNotAtAll)
{
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(g_pConnection->Execute("insert into [user] ([username]) values ('s'), ('t')"));
    const struct
    {
        const char* shop;
        QList<qint64> seqs;
        int added;              // -1: refused
        QList<qint64> lastSeqs; // of s and t afterwards
    } replies[] = {
        {"s", {1, 2, 3}, 3, {3, 0}}, {"s", {2, 3, 4, 4}, 1, {4, 0}}, // overlapping, and a view twice in one reply
        {"t", {1, 2}, 2, {4, 2}},                                    // the same numbers in another shop
        {"nobody", {5}, -1, {4, 2}}, {"s", {5, 6}, -1, {4, 2}},      // the store refuses view 6 (below)
    };
    for (const auto& reply : replies) {
        if (reply.seqs.contains(6)) {
            ASSERT_TRUE(g_pConnection->Execute("create trigger [refuse] before insert on [pageview] when "
                                               "new.[seq] = 6 begin select raise(abort, 'refused'); end"));
        }
        QList<CPageView> views;
        for (qint64 seq : reply.seqs)
            views << CPageView{seq, "10.0.0.1", "中国 北京", "http://a/%1'" + QString::number(seq), ""};
        QList<CPageView> fresh;
        EXPECT_EQ(CPageViewTable::Record(reply.shop, views, reply.seqs.last(), &fresh), reply.added);
        EXPECT_EQ(fresh.size(), std::max(reply.added, 0));
        EXPECT_EQ((QList<qint64>{CPageViewTable::LastSeq("s"), CPageViewTable::LastSeq("t")}), reply.lastSeqs);
    }
    EXPECT_EQ(CPageViewTable::LastSeq("nobody"), -1);
    EXPECT_EQ(ReadColumn(*g_pConnection, "select [shopname] || [seq] from [pageview] order by 1", 0),
              (QStringList{"s1", "s2", "s3", "s4", "t1", "t2"}));
    // Quotes and percent signs kept as the service sent them.
    EXPECT_EQ(ReadColumn(*g_pConnection, "select [shopurl] from [pageview] where [shopname] = 's' and [seq] = 4", 0),
              QStringList{"http://a/%1'4"});
}

struct CBadFileCase
{
    const char* name;
    // Makes the unusable Info.mdb; returns what must stay unchanged.
    std::function<QByteArray(const QString& path)> make;
    const char* reasonPart;
};

void PrintTo(const CBadFileCase& c, std::ostream* os)
{
    *os << c.name;
}

QByteArray MakeJunk(const QString& path)
{
    QByteArray junk;
    for (int i = 0; i < 8192; ++i)
        junk.append(char((i * 7919) % 251));
    WriteAll(path, junk);
    return junk;
}

QByteArray MakeDamagedStore(const QString& path)
{
    {
        CAdoConnection connection;
        connection.Connect(path);
        connection.Execute("insert into [client] ([guestname]) values ('x')");
    }
    QByteArray bytes = ReadAll(path);
    // Keep the header, wreck the first page's tree.
    for (int i = 100; i < 4096 && i < bytes.size(); ++i)
        bytes[i] = char(0xFF);
    QFile::remove(path);
    WriteAll(path, bytes);
    return bytes;
}

QByteArray MakeDirectory(const QString& path)
{
    QDir().mkpath(path);
    WriteAll(path + "/keep.txt", "keep");
    return "directory";
}

class BadStoreFile : public StoreStartupTest, public ::testing::WithParamInterface<CBadFileCase>
{
};

TEST_P(BadStoreFile, IsLeftUntouchedAndTheOwnerIsToldOnce)
{
    const QByteArray before = GetParam().make(Path());
    EXPECT_FALSE(OpenStore(m_dir.path()));

    const auto shown = m_messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.contains(Path())) << qPrintable(shown[0].text);
    EXPECT_TRUE(shown[0].text.contains(QString::fromUtf8(GetParam().reasonPart))) << qPrintable(shown[0].text);
    EXPECT_EQ(shown[0].caption, AppTitle());

    // The program goes on with a closed connection: everything fails, nothing more is shown.
    ASSERT_NE(g_pConnection, nullptr);
    EXPECT_FALSE(g_pConnection->IsOpen());
    EXPECT_FALSE(g_pConnection->Execute("delete from [AutoSend]"));
    CAdoRecordSet rs;
    EXPECT_FALSE(rs.Open("select * from [client] order by [lasttime] desc"));
    QString text;
    EXPECT_FALSE(rs.GetCollect(1, text));
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_EQ(m_messages.Count(), 1u);

    CloseStore();
    if (before == "directory") {
        EXPECT_TRUE(QFileInfo(Path()).isDir());
        EXPECT_EQ(QDir(Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"keep.txt"});
    } else {
        EXPECT_EQ(ReadAll(Path()), before);
    }
    // Nothing was made beside it either.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"Info.mdb"});
}

INSTANTIATE_TEST_SUITE_P(Cases, BadStoreFile,
                         ::testing::Values(CBadFileCase{"not_a_database", MakeJunk, "不是可识别的数据库"},
                                           CBadFileCase{"damaged", MakeDamagedStore, "损坏"},
                                           CBadFileCase{"directory", MakeDirectory, "无法读取"}),
                         [](const ::testing::TestParamInfo<CBadFileCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(StoreStartupTest, AStoreThatCannotBeCreatedIsReportedOnce)
{
    // The data directory would have to live inside a plain file.
    const QString plain = m_dir.filePath("plain.txt");
    ASSERT_TRUE(WriteAll(plain, "text"));
    EXPECT_FALSE(OpenStore(plain + "/data"));
    const auto shown = m_messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].text.contains(plain + "/data/Info.mdb")) << qPrintable(shown[0].text);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("无法创建"))) << qPrintable(shown[0].text);
    EXPECT_FALSE(g_pConnection->IsOpen());
    EXPECT_EQ(ReadAll(plain), QByteArray("text"));
}

TEST_F(StoreStartupTest, CloseStoreLeavesAClosedStandInAndTheStoreOpensAgain)
{
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(g_pConnection->Execute("insert into [client] ([guestname]) values ('kept')"));
    CloseStore();
    ASSERT_NE(g_pConnection, nullptr);
    EXPECT_FALSE(g_pConnection->IsOpen());
    EXPECT_FALSE(g_pConnection->Execute("delete from [client]"));
    CloseStore(); // twice is harmless
    ASSERT_TRUE(OpenStore(m_dir.path()));
    EXPECT_EQ(ReadColumn(*g_pConnection, "select * from [client]", 1), QStringList{"kept"});
}

TEST_F(StoreStartupTest, ASetStillReadingWhenTheStoreClosesReadsToItsEnd)
{
    ASSERT_TRUE(OpenStore(m_dir.path()));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(g_pConnection->Execute("insert into [client] ([guestname]) values ('v')"));
    CAdoRecordSet rs;
    ASSERT_TRUE(rs.Open("select * from [client]"));
    CloseStore();
    int rows = 0;
    while (!rs.IsEOF() && rows < 10) {
        ++rows;
        rs.MoveNext();
    }
    EXPECT_EQ(rows, 3);
}

// Another running copy of the program holds the write lock for a while: our change
// waits for it instead of failing, and lands after the other's.
TEST_F(StoreStartupTest, ASecondProcessHoldingTheLockIsWaitedFor)
{
    const QString cli = QStandardPaths::findExecutable("sqlite3");
    if (cli.isEmpty())
        GTEST_SKIP() << "the sqlite3 command-line program is not installed";
    ASSERT_TRUE(OpenStore(m_dir.path()));
    const QString marker = m_dir.filePath("locked");

    QProcess other;
    other.start(cli, {Path()});
    ASSERT_TRUE(other.waitForStarted(10000));
    other.write(QStringLiteral("begin exclusive;\n"
                               "insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('other','x','y');\n"
                               ".shell touch '%1'\n"
                               ".shell sleep 2\n"
                               "commit;\n")
                    .arg(marker)
                    .toUtf8());
    // No event loop here: push the script through before closing.
    ASSERT_TRUE(other.waitForBytesWritten(10000));
    other.closeWriteChannel();

    QDeadlineTimer deadline(15000);
    while (!QFileInfo::exists(marker) && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_TRUE(QFileInfo::exists(marker)) << other.readAllStandardError().constData();

    // Reading does not wait for the writer and does not see its change yet.
    EXPECT_TRUE(ReadRows(*g_pConnection, "select * from [AutoSend]", {0}).isEmpty());
    EXPECT_TRUE(g_pConnection->Execute("insert into [AutoSend] ([ClientName],[UserName],[Message]) "
                                       "values ('mine','x','y')"));
    ASSERT_TRUE(other.waitForFinished(15000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardError().constData();
    EXPECT_EQ(ReadColumn(*g_pConnection, "select * from [AutoSend] order by rowid", 0), (QStringList{"other", "mine"}));
    EXPECT_EQ(m_messages.Count(), 0u);
}

// The window's statements have a handle of their own with a short wait: a
// write lock held elsewhere fails the window's change at once (the worker's
// long wait would have let it through), while a worker's change waits and lands.
// The same when the window's thread was named before the store opened.
class WindowStatements : public StoreStartupTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(WindowStatements, DoNotWaitBehindAnotherWriter)
{
    ASSERT_TRUE(OpenStore(m_dir.path()));
    g_pConnection->SetWindowThread(QThread::currentThread(), 50);
    if (GetParam()) {
        ASSERT_TRUE(g_pConnection->Open(QString()));
    }
    CAdoConnection other;
    ASSERT_TRUE(other.Connect(Path()));
    ASSERT_TRUE(other.Execute(QStringLiteral("begin immediate")));
    std::thread releaser([&] {
        QThread::msleep(1500);
        other.Execute(QStringLiteral("commit"));
    });
    std::atomic<int> workerResult{-1};
    std::thread worker([&] {
        workerResult = g_pConnection->Execute(QStringLiteral(
                           "insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('worker','x','y')"))
                           ? 1
                           : 0;
    });
    EXPECT_TRUE(ReadRows(*g_pConnection, "select * from [AutoSend]", {0}).isEmpty()) << "reads pass the writer";
    EXPECT_FALSE(g_pConnection->Execute(
        QStringLiteral("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('window','x','y')")));
    releaser.join();
    worker.join();
    EXPECT_EQ(workerResult.load(), 1);
    EXPECT_EQ(ReadColumn(*g_pConnection, "select * from [AutoSend]", 0), QStringList{"worker"});
    g_pConnection->SetWindowThread(nullptr);
}

INSTANTIATE_TEST_SUITE_P(NamedAfterOrBeforeOpening, WindowStatements, ::testing::Bool());

} // namespace
