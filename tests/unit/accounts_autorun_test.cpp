// The autostart entry that stands for the autorun switch.
#include "support/TestMain.h"

#include "accounts/Autorun.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

struct CExecCase
{
    const char* path;
    const char* exec;
};

class AutostartExecTest : public ::testing::TestWithParam<CExecCase>
{
};

TEST_P(AutostartExecTest, ExecNamesTheProgram)
{
    const QString text = AutostartEntryText(QString::fromUtf8(GetParam().path));
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("\nType=Application\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nName=Lumo助手-Vexa来客提醒\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=") + QString::fromUtf8(GetParam().exec) + u'\n'))
        << qPrintable(text);
}

INSTANTIATE_TEST_SUITE_P(Paths, AutostartExecTest,
                         ::testing::Values(CExecCase{"/usr/bin/mirelhelper", "/usr/bin/mirelhelper"},
                                           CExecCase{"/opt/my apps/mirelhelper", "\"/opt/my apps/mirelhelper\""},
                                           CExecCase{"/opt/a$b/m", "\"/opt/a\\\\$b/m\""},
                                           CExecCase{"/opt/100%/m", "/opt/100%%/m"},
                                           CExecCase{"/home/用户/mirelhelper", "/home/用户/mirelhelper"}));

TEST(AutostartEntry, UnusablePathGivesNoEntry)
{
    EXPECT_TRUE(AutostartEntryText(QString()).isEmpty());
    EXPECT_TRUE(AutostartEntryText(QStringLiteral("/a\nb")).isEmpty());
}

TEST(AutostartEntry, NamedForTheAutorunValue)
{
    qputenv("XDG_CONFIG_HOME", "/tmp/xdg-config-test");
    SetAutostartDirectory(QString());
    EXPECT_EQ(AutostartFilePath(), QStringLiteral("/tmp/xdg-config-test/autostart/Lumo助手-Vexa来客提醒.desktop"));
    qunsetenv("XDG_CONFIG_HOME");
}

TEST(AutostartEntry, OnWritesOffRemoves)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SetAutostartDirectory(dir.filePath(QStringLiteral("deeper/autostart")));
    const QString path = AutostartFilePath();
    // Off with no entry: nothing to do, nothing wrong.
    EXPECT_TRUE(SetAutorunEntry(false, QStringLiteral("/usr/bin/mirelhelper")));
    EXPECT_TRUE(SetAutorunEntry(true, QStringLiteral("/usr/bin/mirelhelper")));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), AutostartEntryText(QStringLiteral("/usr/bin/mirelhelper")));
    file.close();
    EXPECT_TRUE(SetAutorunEntry(false, QStringLiteral("/usr/bin/mirelhelper")));
    EXPECT_FALSE(QFile::exists(path));
    SetAutostartDirectory(QString());
}

TEST(AutostartEntry, FolderThatCannotBeMadeFailsQuietly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SetAutostartDirectory(dir.filePath(QStringLiteral("file/autostart")));
    EXPECT_FALSE(SetAutorunEntry(true, QStringLiteral("/usr/bin/mirelhelper")));
    SetAutostartDirectory(QString());
}
