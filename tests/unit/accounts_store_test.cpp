// The account statements and the web-ID reading, on a real store.
#include "support/TestMain.h"

#include "accounts/AccountFlows.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"
#include "tables/AccountTable.h"
#include "tables/GreetingQueue.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

struct CWebIdCase
{
    const char* text;
    int value;
};

class WebIdToIntTest : public ::testing::TestWithParam<CWebIdCase>
{
};

TEST_P(WebIdToIntTest, ReadsTheLeadingNumber)
{
    EXPECT_EQ(WebIdToInt(QString::fromLatin1(GetParam().text)), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, WebIdToIntTest,
                         ::testing::Values(CWebIdCase{"12345", 12345}, CWebIdCase{"007", 7}, CWebIdCase{"abc", 0},
                                           CWebIdCase{"", 0}, CWebIdCase{" 42x", 42}, CWebIdCase{"\t9", 9},
                                           CWebIdCase{"-5", -5}, CWebIdCase{"+8", 8}, CWebIdCase{"1 2", 1},
                                           CWebIdCase{"x1", 0}, CWebIdCase{"0", 0}, CWebIdCase{"- 3", 0},
                                           CWebIdCase{"2147483647", std::numeric_limits<int>::max()},
                                           CWebIdCase{"99999999999", std::numeric_limits<int>::max()},
                                           CWebIdCase{"-99999999999", std::numeric_limits<int>::min()}));

TEST(RemoveBlanks, TakesOutSpacesOnly)
{
    EXPECT_EQ(RemoveBlanks(QStringLiteral("  shop  one ")), QStringLiteral("shopone"));
    EXPECT_EQ(RemoveBlanks(QStringLiteral("a\tb")), QStringLiteral("a\tb"));
    EXPECT_EQ(RemoveBlanks(QStringLiteral("   ")), QString());
}

TEST(AccountSql, StatementsKeepTheirTemplates)
{
    CAccount account{QStringLiteral("shop"), QStringLiteral("im"), QStringLiteral("pw"),
                     QStringLiteral("77"),   QStringLiteral("hi"), true};
    EXPECT_EQ(CAccountTable::InsertSql(account),
              QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],"
                             "[autosend]) values ('shop','im','pw','77','hi',1)"));
    account.autoSend = false;
    EXPECT_EQ(CAccountTable::UpdateSql(account),
              QStringLiteral("update [user] set [password] = 'pw',[usersmailname] = 'im',"
                             "[messageinfo] = 'hi',[autosend] = 0 where [username] = 'shop';"));
    EXPECT_EQ(CAccountTable::DeleteSql(QStringLiteral("shop")),
              QStringLiteral("delete from [user] where [username] = 'shop';"));
    EXPECT_EQ(CAccountTable::SaveGreetingSql(QStringLiteral("shop"), QStringLiteral("hi"), true),
              QStringLiteral("update [user] set [messageinfo] = 'hi',[autosend] = 1 where [username] = 'shop'"));
}

TEST(AccountSql, ValuesWithQuotesAndPlaceholdersStayWhole)
{
    CAccount account{QStringLiteral("%2'x"), QStringLiteral("%1"),   QStringLiteral("p'w"),
                     QStringLiteral("%6"),   QStringLiteral("100%"), false};
    EXPECT_EQ(CAccountTable::InsertSql(account),
              QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],"
                             "[autosend]) values ('%2''x','%1','p''w','%6','100%',0)"));
    EXPECT_EQ(CAccountTable::SaveGreetingSql(QStringLiteral("%3"), QStringLiteral("%1%2"), false),
              QStringLiteral("update [user] set [messageinfo] = '%1%2',[autosend] = 0 where [username] = '%3'"));
}

class AccountStoreTest : public ::testing::Test
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

TEST_F(AccountStoreTest, RoundTripOfAnAccount)
{
    EXPECT_EQ(CAccountTable().Find(QStringLiteral("o'shop")), EAccountLookup::Missing);
    CAccount account{QStringLiteral("o'shop"),
                     QStringLiteral("it's"),
                     QStringLiteral("p'w"),
                     QStringLiteral("0042"),
                     QStringLiteral("亲爱的 [username]"),
                     false};
    ASSERT_TRUE(CAccountTable().Insert(account));
    ASSERT_TRUE(CAccountTable().Insert({QStringLiteral("second"), {}, {}, QStringLiteral("x9"), {}, true}));
    EXPECT_EQ(CAccountTable().Find(QStringLiteral("o'shop")), EAccountLookup::Exists);

    CAccount read;
    ASSERT_EQ(CAccountTable().Find(QStringLiteral("o'shop"), &read), EAccountLookup::Exists);
    EXPECT_EQ(read.userName, account.userName);
    EXPECT_EQ(read.greetingAccount, account.greetingAccount);
    EXPECT_EQ(read.password, account.password);
    EXPECT_EQ(read.webId, QStringLiteral("0042"));
    EXPECT_EQ(read.greeting, account.greeting);
    EXPECT_FALSE(read.autoSend);

    const QList<CAccount> list = CAccountTable().ReadAll();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].userName, QStringLiteral("o'shop"));
    EXPECT_EQ(WebIdToInt(list[0].webId), 42);
    EXPECT_EQ(WebIdToInt(list[1].webId), 0);

    ASSERT_TRUE(CAccountTable().SaveGreeting(QStringLiteral("o'shop"), QStringLiteral("new"), true));
    ASSERT_EQ(CAccountTable().Find(QStringLiteral("o'shop"), &read), EAccountLookup::Exists);
    EXPECT_EQ(read.greeting, QStringLiteral("new"));
    EXPECT_TRUE(read.autoSend);

    account.password = QStringLiteral("changed");
    account.greetingAccount = QStringLiteral("im2");
    ASSERT_TRUE(CAccountTable().Update(account));
    ASSERT_EQ(CAccountTable().Find(QStringLiteral("o'shop"), &read), EAccountLookup::Exists);
    EXPECT_EQ(read.password, QStringLiteral("changed"));
    EXPECT_EQ(read.greetingAccount, QStringLiteral("im2"));
    EXPECT_EQ(read.webId, QStringLiteral("0042")) << "an update never touches the web ID";

    ASSERT_TRUE(CAccountTable().Delete(QString()));
    EXPECT_EQ(CAccountTable().ReadAll().size(), 2);
    ASSERT_TRUE(CAccountTable().Delete(QStringLiteral("o'shop")));
    EXPECT_EQ(CAccountTable().ReadAll().size(), 1);
    EXPECT_NE(CAccountTable().Find(QStringLiteral("o'shop"), &read), EAccountLookup::Exists);
}

TEST_F(AccountStoreTest, ClearGreetingQueueEmptiesIt)
{
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('a','b','c')")));
    auto queued = [] {
        CAdoRecordSet rs(g_pConnection);
        return rs.Open(QStringLiteral("select * from [AutoSend]")) && !rs.IsEOF();
    };
    ASSERT_TRUE(queued());
    ASSERT_TRUE(CGreetingQueue::ClearWhenSenderStops());
    EXPECT_FALSE(queued());
}

TEST_F(AccountStoreTest, ClosedStoreReadsNothingAndWritesNothing)
{
    CloseStore();
    EXPECT_EQ(CAccountTable().Find(QStringLiteral("x")), EAccountLookup::Unreadable);
    EXPECT_TRUE(CAccountTable().ReadAll().isEmpty());
    EXPECT_FALSE(CAccountTable().Insert({QStringLiteral("x"), {}, {}, {}, {}, true}));
    EXPECT_FALSE(CAccountTable().SaveGreeting(QStringLiteral("x"), {}, true));
    CAccount read;
    EXPECT_NE(CAccountTable().Find(QStringLiteral("x"), &read), EAccountLookup::Exists);
}
