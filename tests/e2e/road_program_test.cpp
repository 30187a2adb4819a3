// The built program, prepared the way scripts/run --demo prepares it, on real
// processes over loopback under Xvfb: the demo shopper's visit becomes a
// visit and a greeting in hichat, and the tray menu ends the program.
#include "support/TestMain.h"

#include "road_fixture.h"

namespace {

// ---- the built program, prepared the way scripts/run --demo prepares it

class BuiltProgramRoadTest : public RoadTest
{
protected:
    static QString Program() { return QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"); }

    // Runs functions of scripts/demo-shopper.sh against this test's service and data directory.
    bool RunDemoScript(const QString& functions, QString* output)
    {
        QProcess bash;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("build"), QStringLiteral(MIREL_BINARY_DIR));
        environment.insert(QStringLiteral("data"), m_home.path());
        environment.insert(QStringLiteral("tracking"), m_service.TrackingBase());
        environment.insert(QStringLiteral("im"), m_service.ImBase());
        environment.insert(QStringLiteral("service_data"), m_service.DataDir());
        bash.setProcessEnvironment(environment);
        bash.setProcessChannelMode(QProcess::MergedChannels);
        bash.start(
            QStringLiteral("bash"),
            {QStringLiteral("-c"),
             QStringLiteral("set -eu; build=$build data=$data tracking=$tracking im=$im; . \"$0\"; ") + functions,
             QStringLiteral(MIREL_SOURCE_DIR "/scripts/demo-shopper.sh")});
        const bool ended = bash.waitForFinished(60000);
        *output = QString::fromUtf8(bash.readAll());
        return ended && bash.exitStatus() == QProcess::NormalExit && bash.exitCode() == 0;
    }
};

TEST_F(BuiltProgramRoadTest, DemoPreparedStoreGreetsTheShopperAndTheTrayMenuEndsTheProgram)
{
    QString output;
    ASSERT_TRUE(RunDemoScript(QStringLiteral("demo_prepare; demo_shopper_visit"), &output)) << qPrintable(output);
    // --init-store made the store; the script put the demo shop in.
    EXPECT_EQ(road::IntegrityCheck(DatabasePath()), QStringLiteral("ok"));
    const QList<QStringList> accounts =
        road::QueryFile(DatabasePath(), QStringLiteral("select [username],[usersmailname],[autosend] from [user]"));
    ASSERT_EQ(accounts,
              (QList<QStringList>{{QStringLiteral("demo_shop"), QStringLiteral("demo_im"), QStringLiteral("1")}}));
    // Who the shopper was, as the service saw it.
    QByteArray listed;
    ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/visitors?imname=demo_im"), &listed), 200);
    const QStringList fields = QString::fromUtf8(listed).split(u'\n').value(0).split(u'\t');
    ASSERT_GE(fields.size(), 2) << listed.constData();
    const QString visitor = fields[0];
    const QString imId = fields[1];
    QByteArray views;
    ASSERT_EQ(m_service.GetTracking(QStringLiteral("/admin/pageviews?limit=1"), &views), 200);
    const QRegularExpressionMatch view =
        QRegularExpression(QStringLiteral("\"ip\":\"([0-9a-f.:]+)\".*\"url\":\"([^\"]+)\""))
            .match(QString::fromUtf8(views));
    ASSERT_TRUE(view.hasMatch()) << views.constData();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The rest of the environment (XDG folders, hichat's instance and log) is the hichat session's.
    environment.insert(QStringLiteral("MIRELHELP_HOME"), m_home.path());
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(Program(), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    ASSERT_TRUE(WaitUntil([&] { return !VisitsOf(visitor).isEmpty(); }, 45000))
        << "no visit of " << qPrintable(visitor);
    const QStringList visit = VisitsOf(visitor).value(0);
    // The program found the IP data beside itself and took copies into its data directory.
    EXPECT_TRUE(QFile::exists(m_home.filePath(QStringLiteral("QQWry.Dat"))));
    EXPECT_TRUE(QFile::exists(m_home.filePath(QStringLiteral("qqwry.ipdb"))));
    EXPECT_EQ(visit.value(1), view.captured(1));
    EXPECT_EQ(visit.value(2), QStringLiteral("demo_shop"));
    EXPECT_EQ(visit.value(5), m_reader.Lookup(view.captured(1)));
    EXPECT_EQ(visit.value(6), view.captured(2));
    EXPECT_EQ(visit.value(7), imId);

    ASSERT_TRUE(m_hichat.WaitForMessages(1, 30000)) << "nothing reached hichat";
    const QJsonObject message = m_hichat.Messages().value(0);
    EXPECT_EQ(message.value(QStringLiteral("id")).toString(), visitor);
    EXPECT_TRUE(message.value(QStringLiteral("text"))
                    .toString()
                    .startsWith(QStringLiteral("亲爱的 %1,欢迎光临！").arg(visitor)))
        << qPrintable(message.value(QStringLiteral("text")).toString());

    // The sender empties the queue after its pass (and its pause).
    EXPECT_TRUE(WaitUntil(
        [&] {
            return road::QueryFile(DatabasePath(), QStringLiteral("select count(*) from [AutoSend]")) ==
                   QList<QStringList>{{QStringLiteral("0")}};
        },
        20000));

    // The tray menu of the other process: a right click on its icon (the
    // program's only window that is narrow in one direction: the window
    // manager may stretch the tray host along a screen edge), then the last
    // item by keyboard once the menu is up (it takes the keyboard).
    const qint64 pid = program.processId();
    QRect icon;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const road::CXWindowInfo& window : road::WindowsOfProcess(pid)) {
                if (std::min(window.rect.width(), window.rect.height()) <= 48)
                    icon = window.rect;
            }
            return icon.isValid();
        },
        10000))
        << "the program's tray icon is not on the screen; its windows: " << qPrintable(WindowsOf(pid));
    // Under load a menu can come up before it holds the keyboard, and the keys
    // then go elsewhere: one more try with the menu closed first.
    QElapsedTimer exitClock;
    const auto chooseExit = [&] {
        QList<unsigned long> before;
        for (const road::CXWindowInfo& window : road::WindowsOfProcess(pid))
            before.append(window.id);
        road::FakeClick(icon.center(), 3);
        // The menu is the window that comes up at the pointer.
        const QRect nearPointer(icon.center() - QPoint(4, 4), QSize(9, 9));
        const bool menuUp = WaitUntil(
            [&] {
                for (const road::CXWindowInfo& window : road::WindowsOfProcess(pid)) {
                    if (!before.contains(window.id) && window.rect.adjusted(-24, -24, 24, 24).intersects(nearPointer))
                        return true;
                }
                return false;
            },
            10000);
        EXPECT_TRUE(menuUp) << "no menu after a right click on the tray icon at " << icon.center().x() << ","
                            << icon.center().y() << "; its windows: " << qPrintable(WindowsOf(pid));
        QTest::qWait(200);
        road::FakeKey("Up");
        exitClock.start();
        road::FakeKey("Return");
        return program.waitForFinished(CMirelHelperApp::kExitWaitMs + 3000);
    };
    if (!chooseExit()) {
        road::FakeKey("Escape");
        QTest::qWait(500);
        ASSERT_TRUE(chooseExit()) << "the program did not end";
    }
    EXPECT_LT(exitClock.elapsed(), CMirelHelperApp::kExitWaitMs + 3000);
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(road::IntegrityCheck(DatabasePath()), QStringLiteral("ok"));
}

} // namespace
