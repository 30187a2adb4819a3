// The system settings row: its statement, its reading and the live values.
#include "support/TestMain.h"

#include "accounts/LiveSettings.h"
#include "accounts/SystemSettings.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"
#include "tables/AccountTable.h"
#include "tables/SettingsTable.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(SystemSettingsSql, KeepsTheTemplateWithItsBlanks)
{
    CSystemSettings s;
    s.autorun = 1;
    s.clienttip = 0;
    s.reflashtime = 1500;
    s.sendsteptime = 5;
    s.guesttip = 1;
    s.playsound = 0;
    EXPECT_EQ(CSettingsTable::SaveSystemSql(s),
              QStringLiteral("update [sysseting] set [autorun] = 1 ,[clienttip] = 0,[reflashtime] = 1500,"
                             "[sendsteptime] = 5,[autosendname] = 'NULL',[hiedition] = 0,[guesttip] = 1 , "
                             "[playsound] = 0 where [id] = 1"));
}

TEST(SystemSettings, RaiseToMinimumKeepsLargeValues)
{
    CSystemSettings s;
    s.reflashtime = 19;
    s.sendsteptime = 4;
    RaiseToMinimum(s);
    EXPECT_EQ(s.reflashtime, 20);
    EXPECT_EQ(s.sendsteptime, 5);
    s.reflashtime = 5000;
    s.sendsteptime = 101;
    RaiseToMinimum(s);
    EXPECT_EQ(s.reflashtime, 5000);
    EXPECT_EQ(s.sendsteptime, 101);
}

TEST(SystemSettings, LiveValuesNeverFallBelowTheMinimum)
{
    CSystemSettings s;
    s.reflashtime = 3;
    s.sendsteptime = 1500;
    s.playsound = 0;
    PublishLiveSettings(s);
    EXPECT_EQ(LiveSettings().reflashtime.load(), 20);
    EXPECT_EQ(LiveSettings().sendsteptime.load(), 1500);
    EXPECT_EQ(LiveSettings().playsound.load(), 0);
    PublishLiveSettings(CSystemSettings());
    EXPECT_EQ(LiveSettings().reflashtime.load(), 30);
    EXPECT_EQ(LiveSettings().sendsteptime.load(), 6);
}

struct CStoredCase
{
    int refresh;
    int send;
    int wantRefresh;
    int wantSend;
};

class SystemSettingsReadTest : public ::testing::TestWithParam<CStoredCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(OpenStore(m_dir.path()));
    }
    void TearDown() override { CloseStore(); }
    QTemporaryDir m_dir;
};

TEST_P(SystemSettingsReadTest, StoredValuesAreRaisedOnRead)
{
    const CStoredCase c = GetParam();
    CSystemSettings written;
    written.autorun = 1;
    written.clienttip = 1;
    written.guesttip = 0;
    written.playsound = 0;
    written.reflashtime = c.refresh;
    written.sendsteptime = c.send;
    ASSERT_TRUE(CSettingsTable().WriteSystem(written));
    CSystemSettings read;
    ASSERT_TRUE(CSettingsTable().ReadSystem(read));
    EXPECT_EQ(read.reflashtime, c.wantRefresh);
    EXPECT_EQ(read.sendsteptime, c.wantSend);
    EXPECT_EQ(read.autorun, 1);
    EXPECT_EQ(read.clienttip, 1);
    EXPECT_EQ(read.guesttip, 0);
    EXPECT_EQ(read.playsound, 0);
}

INSTANTIATE_TEST_SUITE_P(Stored, SystemSettingsReadTest,
                         ::testing::Values(CStoredCase{5, 1, 20, 5}, CStoredCase{2000, 100, 2000, 100},
                                           CStoredCase{30, 6, 30, 6}, CStoredCase{1500, 3, 1500, 5}));

TEST_F(SystemSettingsReadTest, ANewStoreHoldsTheValuesBeforeLoadingButTheVisitorAlert)
{
    CSystemSettings expected;
    expected.clienttip = SystemDefault::kNewStoreClientTip;
    CSystemSettings read;
    read.reflashtime = 999;
    ASSERT_TRUE(CSettingsTable().ReadSystem(read));
    EXPECT_TRUE(read == expected) << read.reflashtime << " " << read.sendsteptime << " " << read.clienttip;
}

TEST_F(SystemSettingsReadTest, MissingRowLeavesTheValuesAloneAndASaveMakesItAgain)
{
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("delete from [sysseting]")));
    CSystemSettings s;
    s.reflashtime = 77;
    EXPECT_FALSE(CSettingsTable().ReadSystem(s));
    EXPECT_EQ(s.reflashtime, 77);
    // Saving makes the row again, then saves into it.
    ASSERT_TRUE(CSettingsTable().WriteSystem(s));
    CSystemSettings read;
    ASSERT_TRUE(CSettingsTable().ReadSystem(read));
    EXPECT_EQ(read.reflashtime, 77);
    // An update that changes no row is a failure, whoever asks.
    EXPECT_FALSE(
        CAccountTable().Update({QStringLiteral("nobody"), QStringLiteral("im"), QStringLiteral("pw"), {}, {}, true}));
    EXPECT_FALSE(CAccountTable().SaveGreeting(QStringLiteral("nobody"), QStringLiteral("hi"), true));
}
