// Info.mdb under duress: locked by a second running copy, read-only, corrupt,
// and the program killed with SIGKILL while it polls and inserts. The second
// copy and the killed program are this test binary started again in a child
// mode (DISABLED_FaultChild.Run, chosen by MIREL_FAULT_CHILD).
#include "accounts/LiveSettings.h"
#include "monitor/RefreshShop.h"
#include "net/WinHttpEx.h"
#include "platform/Endpoints.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/StoreTestSupport.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* kChildVariable = "MIREL_FAULT_CHILD";

std::mutex g_printMutex;
void PrintLine(const QString& line)
{
    std::lock_guard lock(g_printMutex);
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString ClientInsert(const QString& name)
{
    return QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] , "
                          "[shopurl] , [imuid]) values ('%1','1.2.3.4','killShop','2024-06-01 12:00:00',1,"
                          "'未知区域','未知链接','x')")
        .arg(SqlText(name));
}

// --- child modes -----------------------------------------------------------

// Holds a write lock on the store for ms milliseconds, like a second copy in
// the middle of a long write.
void ChildLock(const QString& dir, int ms)
{
    CAdoConnection connection;
    if (!connection.Connect(dir + QStringLiteral("/Info.mdb")) ||
        !connection.Execute(QStringLiteral("begin exclusive"))) {
        PrintLine(QStringLiteral("FAILED"));
        return;
    }
    PrintLine(QStringLiteral("LOCKED"));
    QThread::msleep(static_cast<unsigned long>(ms));
    connection.Execute(ClientInsert(QStringLiteral("fromLocker")));
    connection.Execute(QStringLiteral("commit"));
    PrintLine(QStringLiteral("RELEASED"));
}

// Opens the store as an ordinary user (root ignores file modes) and tells what happened.
void ChildReadOnly(const QString& dir)
{
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
        PrintLine(QStringLiteral("NOUSER"));
        return;
    }
    CMessageRecorder messages;
    const bool opened = OpenStore(dir);
    PrintLine(QStringLiteral("OPENED %1").arg(opened ? 1 : 0));
    PrintLine(QStringLiteral("MESSAGES %1").arg(messages.Count()));
    for (const CShownMessage& shown : messages.Shown())
        PrintLine(QStringLiteral("TEXT ") + QString(shown.text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    PrintLine(QStringLiteral("ROWS %1").arg(
        ReadColumn(*g_pConnection, QStringLiteral("select [guestname] from [client]"), 0).size()));
    PrintLine(QStringLiteral("INSERT %1").arg(g_pConnection->Execute(ClientInsert(QStringLiteral("ro"))) ? 1 : 0));
    CloseStore();
}

// Polls (RefreshShop against a server that names a new visitor each time) on
// one thread and inserts visits directly on another, printing every visit as
// soon as it has been reported, until it is killed.
void ChildInsert(const QString& dir)
{
    CMessageRecorder messages;
    if (!OpenStore(dir)) {
        PrintLine(QStringLiteral("FAILED"));
        return;
    }
    std::atomic<int> page{0};
    CTestHttpServer server;
    server.Server().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.path.find("GetInfo.asp") != std::string::npos) {
            res.set_content("1.2.3.4#||#http://127.0.0.1:1/item/000000000001#||#x#||#|##|", "text/plain");
            return;
        }
        const std::string n = std::to_string(page.fetch_add(1));
        const std::string base = server.Base().toStdString();
        res.set_content("<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/poll" + n + "\"><img src=\"" + base +
                            "/sys/portraitn/item/pid" + n + ".jpg\"></a></td>",
                        "text/html");
    });
    if (!server.Start()) {
        PrintLine(QStringLiteral("FAILED"));
        return;
    }
    CEndpoints endpoints;
    endpoints.trackingBase = server.Base();
    endpoints.imProfileBase = server.Base();
    endpoints.imPortraitBase = server.Base();
    SetEndpoints(endpoints);
    LiveSettings().clienttip.store(0);
    LiveSettings().guesttip.store(0);
    LiveSettings().greetingRunning.store(1);

    CRecordingNotifier notifier;
    const QString reported = QStringLiteral("顾客[");
    notifier.onStatus = [&reported](const QString& text) {
        if (text.startsWith(reported))
            PrintLine(QStringLiteral("REPORTED ") + text.mid(reported.size()).section(QLatin1Char(']'), 0, 0));
    };
    CRecordingBridge bridge;
    std::thread poller([] {
        for (;;)
            RefreshShop(QStringLiteral("w"), QStringLiteral("killShop"), QStringLiteral("hiKill"),
                        QStringLiteral("hello"), true);
    });
    poller.detach();
    PrintLine(QStringLiteral("READY"));
    for (int i = 0;; ++i) {
        const QString name = QStringLiteral("direct%1").arg(i);
        if (!g_pConnection->Execute(ClientInsert(name)))
            continue;
        const QStringList ids = ReadColumn(
            *g_pConnection, QStringLiteral("select [id] from [client] where [guestname] = '%1'").arg(name), 0);
        if (ids.size() == 1)
            PrintLine(QStringLiteral("VISIT %1 %2").arg(ids[0], name));
    }
}

TEST(DISABLED_FaultChild, Run)
{
    const QStringList args = QString::fromLocal8Bit(qgetenv(kChildVariable)).split(QLatin1Char('\t'));
    if (args.size() < 2)
        GTEST_SKIP() << "only run as a child of the fault tests";
    if (args[0] == QLatin1String("lock"))
        ChildLock(args[1], args.value(2).toInt());
    else if (args[0] == QLatin1String("readonly"))
        ChildReadOnly(args[1]);
    else if (args[0] == QLatin1String("insert"))
        ChildInsert(args[1]);
}

// --- the parent's side -------------------------------------------------------

class CChild
{
public:
    ~CChild()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    bool Start(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), args.join(QLatin1Char('\t')));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--gtest_filter=DISABLED_FaultChild.Run"),
                         QStringLiteral("--gtest_also_run_disabled_tests")});
        return m_process.waitForStarted(10000);
    }
    // Complete lines read so far.
    QStringList Lines()
    {
        m_buffer += m_process.readAllStandardOutput();
        const qsizetype end = m_buffer.lastIndexOf('\n');
        if (end >= 0) {
            for (const QByteArray& line : m_buffer.left(end).split('\n'))
                m_lines.append(QString::fromUtf8(line));
            m_buffer.remove(0, end + 1);
        }
        return m_lines;
    }
    // Waits (bounded) until the predicate holds for the lines read.
    bool WaitFor(const std::function<bool(const QStringList&)>& done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (done(Lines()))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return done(Lines());
            m_process.waitForReadyRead(100);
        }
        return done(Lines());
    }
    bool WaitForLine(const QString& line, int timeoutMs)
    {
        return WaitFor([&line](const QStringList& lines) { return lines.contains(line); }, timeoutMs);
    }
    bool Finish(int timeoutMs) { return m_process.waitForFinished(timeoutMs); }
    void KillHard() { ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL); }
    QString Errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
};

QByteArray FileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

QByteArray RandomBytes(qsizetype size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

class StoreFaultTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("Info.mdb"));
    }
    void TearDown() override { CloseStore(); }

    QTemporaryDir m_dir;
    QString m_path;
    CMessageRecorder m_messages;
};

TEST_F(StoreFaultTest, LockedByASecondCopyWaitsThenSucceeds)
{
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(g_pConnection->Execute(ClientInsert(QStringLiteral("before"))));

    constexpr int kLockMs = 2500;
    {
        CChild locker;
        ASSERT_TRUE(locker.Start({QStringLiteral("lock"), m_dir.path(), QString::number(kLockMs)}));
        ASSERT_TRUE(locker.WaitForLine(QStringLiteral("LOCKED"), 30000)) << locker.Errors().toStdString();
        QElapsedTimer timer;
        timer.start();
        // Readers do not wait for the writer.
        EXPECT_EQ(ReadColumn(*g_pConnection, QStringLiteral("select [guestname] from [client]"), 0),
                  QStringList{QStringLiteral("before")});
        // A write waits for the other copy's lock instead of failing.
        EXPECT_TRUE(g_pConnection->Execute(ClientInsert(QStringLiteral("during"))));
        EXPECT_GE(timer.elapsed(), kLockMs / 3) << "the write did not wait for the lock";
        EXPECT_TRUE(locker.Finish(30000));
        EXPECT_TRUE(locker.Lines().contains(QStringLiteral("RELEASED")));
    }
    EXPECT_EQ(ReadColumn(*g_pConnection, QStringLiteral("select [guestname] from [client] order by [id]"), 0),
              (QStringList{QStringLiteral("before"), QStringLiteral("fromLocker"), QStringLiteral("during")}));

    // A copy starting while another holds the lock waits too, and opens without a message.
    CloseStore();
    {
        CChild locker;
        ASSERT_TRUE(locker.Start({QStringLiteral("lock"), m_dir.path(), QString::number(kLockMs)}));
        ASSERT_TRUE(locker.WaitForLine(QStringLiteral("LOCKED"), 30000));
        EXPECT_TRUE(OpenStore(m_dir.path()));
        EXPECT_TRUE(locker.Finish(30000));
    }
    EXPECT_EQ(m_messages.Count(), 0u);
    EXPECT_EQ(ReadColumn(*g_pConnection, QStringLiteral("select count(*) from [client]"), 0),
              QStringList{QStringLiteral("4")});
}

TEST_F(StoreFaultTest, ReadOnlyFileIsReadAndNeverChanged)
{
    ASSERT_TRUE(OpenStore(m_dir.path()));
    for (const QString& name : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
        ASSERT_TRUE(g_pConnection->Execute(ClientInsert(name)));
    CloseStore();
    ASSERT_FALSE(QFile::exists(m_path + QStringLiteral("-wal")));
    const QByteArray before = FileHash(m_path);
    ASSERT_EQ(::chmod(QFile::encodeName(m_path).constData(), 0444), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(m_dir.path()).constData(), 0555), 0);

    CChild child;
    ASSERT_TRUE(child.Start({QStringLiteral("readonly"), m_dir.path()}));
    EXPECT_TRUE(child.Finish(30000));
    const QStringList lines = child.Lines();
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0700);
    ::chmod(QFile::encodeName(m_path).constData(), 0644);
    ASSERT_FALSE(lines.contains(QStringLiteral("NOUSER"))) << "cannot drop to an ordinary user";

    EXPECT_EQ(FileHash(m_path), before);
    std::printf("read-only store: %s\n",
                qPrintable(lines.filter(QRegularExpression(QStringLiteral("^[A-Z]+ "))).join(QStringLiteral("; "))));
    if (lines.contains(QStringLiteral("OPENED 1"))) {
        // Opened read-only: what is there is shown, nothing is written, nobody is bothered.
        EXPECT_TRUE(lines.contains(QStringLiteral("ROWS 3"))) << lines.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("INSERT 0")));
        EXPECT_TRUE(lines.contains(QStringLiteral("MESSAGES 0")));
    } else {
        // Not opened: the owner is told once, where the file is.
        EXPECT_TRUE(lines.contains(QStringLiteral("OPENED 0"))) << lines.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("MESSAGES 1")));
        EXPECT_TRUE(lines.contains(QStringLiteral("INSERT 0")));
    }
}

struct CorruptCase
{
    const char* name;
    std::function<QByteArray(const QByteArray& validFile)> make;
};

TEST_F(StoreFaultTest, CorruptFileIsNeverOverwrittenAndTheOwnerIsToldOnce)
{
    // A valid store to damage.
    ASSERT_TRUE(OpenStore(m_dir.path()));
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(g_pConnection->Execute(ClientInsert(QStringLiteral("v%1").arg(i))));
    CloseStore();
    QFile validFile(m_path);
    ASSERT_TRUE(validFile.open(QIODevice::ReadOnly));
    const QByteArray valid = validFile.readAll();
    validFile.close();
    ASSERT_GT(valid.size(), 4096);

    const std::vector<CorruptCase> cases = {
        {"random bytes", [](const QByteArray&) { return RandomBytes(64 * 1024, 3u); }},
        {"database header, random rest",
         [](const QByteArray& file) { return file.left(100) + RandomBytes(file.size() - 100, 4u); }},
        {"schema page smashed",
         [](const QByteArray& file) {
             QByteArray damaged = file;
             damaged.replace(100, 400, RandomBytes(400, 5u));
             return damaged;
         }},
        {"text file", [](const QByteArray&) { return QByteArray("Standard Jet DB\r\nnot really\r\n").repeated(100); }},
    };
    for (const CorruptCase& corrupt : cases) {
        SCOPED_TRACE(corrupt.name);
        QFile::remove(m_path);
        QFile::remove(m_path + QStringLiteral("-wal"));
        QFile::remove(m_path + QStringLiteral("-shm"));
        {
            QFile file(m_path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(corrupt.make(valid));
        }
        const QByteArray before = FileHash(m_path);
        CMessageRecorder messages;
        EXPECT_FALSE(OpenStore(m_dir.path()));
        // Everything the program does next fails quietly.
        EXPECT_FALSE(g_pConnection->Execute(ClientInsert(QStringLiteral("new"))));
        CAdoRecordSet recordSet;
        EXPECT_FALSE(recordSet.Open(QStringLiteral("select * from [client]")));
        EXPECT_FALSE(g_pConnection->Execute(QStringLiteral("delete from [client]")));
        CloseStore();
        ASSERT_EQ(messages.Count(), 1u);
        EXPECT_TRUE(messages.Shown()[0].text.contains(m_path)) << messages.Shown()[0].text.toStdString();
        EXPECT_EQ(FileHash(m_path), before);
    }
}

// kill -9 at three moments, each time on the same file: afterwards the file
// checks out and every visit the program had reported is there.
TEST_F(StoreFaultTest, KilledWhilePollingAndInsertingLosesNothingReported)
{
    SetHttpTimeouts(1000, 2000);
    const int targets[] = {30, 150, 400};
    int totalVisits = 0;
    int totalReported = 0;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        QStringList lines;
        {
            CChild child;
            ASSERT_TRUE(child.Start({QStringLiteral("insert"), m_dir.path()}));
            const int target = targets[round];
            const bool reached = child.WaitFor(
                [target](const QStringList& read) {
                    return read.filter(QStringLiteral("VISIT ")).size() >= target &&
                           read.filter(QStringLiteral("REPORTED ")).size() >= 3;
                },
                60000);
            child.KillHard();
            EXPECT_TRUE(child.Finish(10000));
            lines = child.Lines();
            ASSERT_TRUE(reached) << lines.join(QLatin1Char('\n')).toStdString() << child.Errors().toStdString();
        }

        CAdoConnection connection;
        ASSERT_TRUE(connection.Connect(m_path));
        EXPECT_EQ(ReadColumn(connection, QStringLiteral("pragma integrity_check"), 0),
                  QStringList{QStringLiteral("ok")});
        for (const QString& line : lines) {
            if (line.startsWith(QStringLiteral("VISIT "))) {
                const QStringList parts = line.split(QLatin1Char(' '));
                ASSERT_EQ(parts.size(), 3);
                EXPECT_EQ(ReadColumn(connection,
                                     QStringLiteral("select [guestname] from [client] where [id] = %1").arg(parts[1]),
                                     0),
                          QStringList{parts[2]});
                ++totalVisits;
            } else if (line.startsWith(QStringLiteral("REPORTED "))) {
                const QString name = line.mid(9);
                EXPECT_EQ(
                    ReadColumn(
                        connection,
                        QStringLiteral("select count(*) from [client] where [guestname] = '%1'").arg(SqlText(name)), 0),
                    QStringList{QStringLiteral("1")})
                    << name.toStdString();
                ++totalReported;
            }
        }
        connection.Close();
    }
    SetHttpTimeouts(0, 0);
    std::printf("checked %d inserted and %d polled visits over three kills\n", totalVisits, totalReported);
}

} // namespace
