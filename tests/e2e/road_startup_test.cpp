// The built program started as a person or a session starts it: one copy per
// data directory, and --init-store preparing a data directory without a display.
#include "support/TestMain.h"

#include "road_fixture.h"

namespace {

// ---- one copy per data directory

int ModeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// A second start (autostart plus a click on the menu entry) shows the running
// copy's window and ends with 0, leaving the store, the queued greeting
// included, to the first copy. Under umask 022 the data directory and the
// files the program writes there are the owner's alone; the copies meet on a
// socket in the private runtime directory; SIGTERM ends a copy as 退出 does.
TEST(SecondStartTest, RaisesTheFirstCopysWindowAndLeavesTheQueueAlone)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
    const mode_t savedMask = ::umask(022);
    const auto restoreMask = qScopeGuard([savedMask] { ::umask(savedMask); });
    QFile ini(home.filePath(QStringLiteral("mirelhelper.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    // Nothing answers on port 1: no service of another test is reached.
    ini.write("[endpoints]\ntracking_base=http://127.0.0.1:1\nim_profile_base=http://127.0.0.1:1\n"
              "im_portrait_base=http://127.0.0.1:1\nim_presence_base=http://127.0.0.1:1\n");
    ini.close();
    road::CTrayHost tray;
    ASSERT_TRUE(tray.Start());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MIRELHELP_HOME"), home.path());
    // No "lumochat" handler: a greeting attempt searches its window for 25 s.
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess first;
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    auto mainWindow = [&] {
        for (const road::CXWindowInfo& window : road::WindowsOfProcess(first.processId())) {
            if (window.rect.width() >= 700)
                return window.id;
        }
        return 0ul;
    };
    const unsigned long window = [&] {
        unsigned long found = 0;
        WaitUntil([&] { return (found = mainWindow()) != 0; }, 30000);
        return found;
    }();
    ASSERT_NE(window, 0ul) << "the first copy shows no window";
    EXPECT_EQ(ModeOf(home.path()), 0700);
    for (const char* file :
         {"Info.mdb", "Info.mdb-wal", "Info.mdb-shm", "mirelhelper.ini", "mirelhelper.log", "mirelhelper.lock"})
        EXPECT_EQ(ModeOf(home.filePath(QLatin1String(file))), 0600) << file;
    const QStringList sockets = QDir(runtime.path()).entryList({QStringLiteral("mirelhelper-*")}, QDir::System);
    ASSERT_EQ(sockets.size(), 1) << "no socket in the runtime directory";
    const QString socket = runtime.filePath(sockets[0]);
    // The close box hides it into the notification area.
    RequestClose(window);
    ASSERT_TRUE(WaitUntil([&] { return mainWindow() == 0; }, 10000));

    const QString path = home.filePath(QStringLiteral("Info.mdb"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    const int inserted =
        sqlite3_exec(db, "insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('queued','shop','hi')",
                     nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(inserted, SQLITE_OK);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {});
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second start did not end";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().constData();
    EXPECT_TRUE(WaitUntil([&] { return mainWindow() == window; }, 10000)) << "the first copy's window is not shown";
    EXPECT_EQ(road::QueryFile(path, QStringLiteral("select [ClientName] from [AutoSend]")),
              (QList<QStringList>{{QStringLiteral("queued")}}));

    // The menu entry's actions go the same way.
    auto startWith = [&](const QString& argument) {
        QProcess action;
        action.setProcessEnvironment(environment);
        action.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {argument});
        return action.waitForFinished(10000) && action.exitCode() == 0;
    };
    auto logHas = [&](const char* line, int times) {
        return WaitUntil(
            [&] {
                QFile log(home.filePath(QStringLiteral("mirelhelper.log")));
                return log.open(QIODevice::ReadOnly) && log.readAll().count(line) >= times;
            },
            10000);
    };
    EXPECT_TRUE(startWith(QStringLiteral("--toggle-alerts")));
    EXPECT_TRUE(logHas("alerts paused", 1));
    EXPECT_TRUE(startWith(QStringLiteral("--toggle-alerts")));
    EXPECT_TRUE(logHas("alerts resumed", 1));
    RequestClose(window);
    ASSERT_TRUE(WaitUntil([&] { return mainWindow() == 0; }, 10000));
    EXPECT_TRUE(startWith(QStringLiteral("--show-visitors")));
    EXPECT_TRUE(WaitUntil([&] { return mainWindow() == window; }, 10000)) << "--show-visitors shows no window";
    auto wideWindows = [&] {
        int count = 0;
        for (const road::CXWindowInfo& shown : road::WindowsOfProcess(first.processId()))
            count += shown.rect.width() >= 700 ? 1 : 0;
        return count;
    };
    EXPECT_TRUE(startWith(QStringLiteral("--history")));
    EXPECT_TRUE(WaitUntil([&] { return wideWindows() == 2; }, 10000)) << "--history opens no history dialog";
    // A second one while it is open only brings it to the front.
    EXPECT_TRUE(startWith(QStringLiteral("--history")));
    EXPECT_TRUE(logHas("a later start asked for history", 2));
    EXPECT_EQ(wideWindows(), 2);
    QProcess unknown;
    unknown.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--no-such-thing")});
    ASSERT_TRUE(unknown.waitForFinished(10000));
    EXPECT_EQ(unknown.exitCode(), 2);

    // While it runs, --init-store refuses to touch its store.
    QProcess init;
    init.setProcessEnvironment(environment);
    init.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--init-store")});
    ASSERT_TRUE(init.waitForFinished(10000));
    EXPECT_EQ(init.exitCode(), 2);

    // The end a session or a service manager asks for: workers stopped, the
    // last lines logged, the lock and the socket given back.
    ASSERT_EQ(::kill(pid_t(first.processId()), SIGTERM), 0);
    ASSERT_TRUE(first.waitForFinished(CMirelHelperApp::kExitWaitMs + 5000)) << "SIGTERM did not end the program";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("mirelhelper.lock"))));
    EXPECT_EQ(ModeOf(socket), -1);
    EXPECT_EQ(road::IntegrityCheck(path), QStringLiteral("ok"));
    QFile log(home.filePath(QStringLiteral("mirelhelper.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logText = log.readAll();
    log.close();
    EXPECT_TRUE(logText.contains("a later start asked for the window"));
    EXPECT_TRUE(logText.contains("SIGTERM received"));
    EXPECT_TRUE(logText.trimmed().endsWith("ended")) << logText.right(300).constData();
    EXPECT_EQ(logText.count("was open to other users"), 1);

    // A crashed copy's lock is taken over by the next start.
    QProcess crashed;
    crashed.setProcessEnvironment(environment);
    crashed.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {});
    ASSERT_TRUE(WaitUntil([&] { return ModeOf(socket) != -1; }, 30000)) << "the copy to crash does not listen";
    crashed.kill();
    crashed.waitForFinished(5000);
    QProcess again;
    again.setProcessEnvironment(environment);
    again.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--init-store")});
    ASSERT_TRUE(again.waitForFinished(10000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().constData();

    // With no copy running, an action starts the program and is carried out there.
    QProcess started;
    started.setProcessEnvironment(environment);
    started.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--toggle-alerts")});
    ASSERT_TRUE(started.waitForStarted(10000));
    EXPECT_TRUE(logHas("alerts paused", 2)) << "a start with --toggle-alerts did not pause the alerts";
    // A session ending (SIGHUP) ends it as cleanly as SIGTERM does.
    ASSERT_EQ(::kill(pid_t(started.processId()), SIGHUP), 0);
    ASSERT_TRUE(started.waitForFinished(CMirelHelperApp::kExitWaitMs + 5000)) << "SIGHUP did not end the program";
    EXPECT_EQ(started.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(started.exitCode(), 0);
    EXPECT_TRUE(logHas("SIGHUP received", 1));
    EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("mirelhelper.lock"))));
}

// ---- preparing a data directory without a display

struct CInitStoreCase
{
    const char* name;
    QByteArray existing; // Info.mdb before, empty for none
    int exitCode;
};

class InitStoreTest : public ::testing::TestWithParam<CInitStoreCase>
{
};

TEST_P(InitStoreTest, CreatesTheStoreOrLeavesAnUnreadableFileAlone)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString path = home.filePath(QStringLiteral("Info.mdb"));
    if (!GetParam().existing.isEmpty()) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(GetParam().existing);
    }
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MIRELHELP_HOME"), home.path());
    environment.remove(QStringLiteral("DISPLAY"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--init-store")});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), GetParam().exitCode) << program.readAllStandardError().constData();
    if (GetParam().existing.isEmpty()) {
        EXPECT_EQ(road::QueryFile(path, QStringLiteral("select name from sqlite_master where type = 'table' "
                                                       "and name not like 'sqlite%' order by name")),
                  (QList<QStringList>{{QStringLiteral("AutoSend")},
                                      {QStringLiteral("advsetting")},
                                      {QStringLiteral("client")},
                                      {QStringLiteral("greetlog")},
                                      {QStringLiteral("pageview")},
                                      {QStringLiteral("sysseting")},
                                      {QStringLiteral("user")}}));
        EXPECT_EQ(road::QueryFile(path, QStringLiteral("select count(*) from [sysseting]")),
                  (QList<QStringList>{{QStringLiteral("1")}}));
    } else {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), GetParam().existing);
    }
}

INSTANTIATE_TEST_SUITE_P(DataDirectories, InitStoreTest,
                         ::testing::Values(CInitStoreCase{"fresh", QByteArray(), 0},
                                           CInitStoreCase{"notADatabase", QByteArray(4096, 'J'), 1}),
                         [](const ::testing::TestParamInfo<CInitStoreCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
