#include "support/TestMain.h"

#include "support/StoreTestSupport.h"

#include "store/Schema.h"

#include <QDir>

#include <atomic>
#include <thread>

namespace {

using RecordSetTest = CStoreTest;

TEST_F(RecordSetTest, ConnectBuildsTheProviderStringFromThePath)
{
    EXPECT_EQ(m_connection.ConnectionString(), "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=" + m_path);
    EXPECT_EQ(CAdoConnection::DataSourceOf(m_connection.ConnectionString()), m_path);
    EXPECT_EQ(CAdoConnection::DataSourceOf("Provider=x; Data Source=/a;b/c.mdb; Mode=Share"), "/a;b/c.mdb");
    EXPECT_TRUE(m_connection.IsOpen());
    // Opening again closes first and opens the same store.
    EXPECT_TRUE(m_connection.Open(QString()));
    EXPECT_TRUE(m_connection.IsOpen());
    m_connection.Close();
    EXPECT_FALSE(m_connection.IsOpen());
    EXPECT_FALSE(m_connection.Execute("delete from [AutoSend]"));

    CAdoConnection unnamed;
    EXPECT_FALSE(unnamed.Open(QString()));
    EXPECT_FALSE(unnamed.IsOpen());
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(RecordSetTest, YesNoReadsAsTrueFalseTextAndAsBooleansOnlyFromYesNoColumns)
{
    ASSERT_TRUE(m_connection.Execute("update [sysseting] set [autorun] = 1, [clienttip] = 0 where [id] = 1"));
    CAdoRecordSet rs(&m_connection);
    ASSERT_TRUE(rs.Open("select * from [sysseting] where [id] = 1"));
    ASSERT_FALSE(rs.IsEOF());
    QString text;
    ASSERT_TRUE(rs.GetCollect(1, text));
    EXPECT_EQ(text, "TRUE");
    ASSERT_TRUE(rs.GetCollect(2, text));
    EXPECT_EQ(text, "FALSE");
    bool flag = false;
    ASSERT_TRUE(rs.GetCollectBool(1, flag));
    EXPECT_TRUE(flag);
    ASSERT_TRUE(rs.GetCollectBool(2, flag));
    EXPECT_FALSE(flag);
    // A number column is never a boolean, even holding 30.
    flag = true;
    ASSERT_TRUE(rs.GetCollectBool(3, flag));
    EXPECT_FALSE(flag);
    int number = 0;
    ASSERT_TRUE(rs.GetCollectInt(3, number));
    EXPECT_EQ(number, 30);
    // The Yes/No column as an integer: true is -1.
    ASSERT_TRUE(rs.GetCollectInt(1, number));
    EXPECT_EQ(number, -1);
    EXPECT_EQ(rs.GetValue(1).type, EVarType::Bool);
    EXPECT_EQ(rs.GetValue(3).type, EVarType::I4);
    EXPECT_EQ(rs.GetValue(5).type, EVarType::BStr);
}

TEST_F(RecordSetTest, NullTextReadsEmptyAndStillSucceeds)
{
    ASSERT_TRUE(m_connection.Execute("insert into [client] ([guestname]) values ('only a name')"));
    CAdoRecordSet rs(&m_connection);
    ASSERT_TRUE(rs.Open("select * from [client]"));
    QString text = "left over";
    EXPECT_TRUE(rs.GetCollect(2, text));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(rs.GetValue(2).type, EVarType::Null);
    text = "left over";
    EXPECT_TRUE(rs.GetCollect(4, text)); // a null date as well
    EXPECT_TRUE(text.isEmpty());
}

TEST_F(RecordSetTest, DateTimeComesBackAsADateInTheStoreForm)
{
    ASSERT_TRUE(m_connection.Execute("insert into [client] ([guestname],[lasttime],[count]) values "
                                     "('a','2009-03-03 14:05:09',1)"));
    CAdoRecordSet rs(&m_connection);
    ASSERT_TRUE(rs.Open("select * from [client]"));
    const CVariant value = rs.GetValue(4);
    EXPECT_EQ(value.type, EVarType::Date);
    EXPECT_NEAR(value.real, 39875.0 + 50709.0 / 86400.0, 1e-9);
    QString text;
    ASSERT_TRUE(rs.GetCollect(4, text));
    EXPECT_EQ(text, "2009-03-03 14:05:09");
    ASSERT_TRUE(rs.GetCollect(0, text));
    EXPECT_EQ(text, "1");
    ASSERT_TRUE(rs.GetCollect(5, text));
    EXPECT_EQ(text, "1");
}

TEST_F(RecordSetTest, PositionAtOrPastTheColumnCountFailsQuietlyAndKeepsTheOutput)
{
    ASSERT_TRUE(m_connection.Execute("insert into [client] ([guestname]) values ('a')"));
    CAdoRecordSet rs(&m_connection);
    ASSERT_TRUE(rs.Open("select * from [client] order by [lasttime] desc"));
    ASSERT_EQ(rs.GetFieldsCount(), 9);
    QString text = "unchanged";
    // The visitor list also asks for position 9 of the nine columns.
    EXPECT_FALSE(rs.GetCollect(9, text));
    EXPECT_FALSE(rs.GetCollect(10, text));
    EXPECT_EQ(text, "unchanged");
    bool flag = true;
    EXPECT_FALSE(rs.GetCollectBool(9, flag));
    EXPECT_FALSE(flag);
    int number = 5;
    EXPECT_FALSE(rs.GetCollectInt(9, number));
    EXPECT_EQ(number, 0);
    rs.Close();
    EXPECT_FALSE(rs.GetCollect(9, text));
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(RecordSetTest, ReadingAClosedSetShowsTheOneMessageEachTime)
{
    CAdoRecordSet rs(&m_connection);
    ASSERT_TRUE(rs.Open("select * from [sysseting] where [id] = 1"));
    rs.Close();
    EXPECT_TRUE(rs.IsEOF());
    QString text = "unchanged";
    EXPECT_FALSE(rs.GetCollect(1, text));
    EXPECT_FALSE(rs.GetCollect(0, text));
    EXPECT_EQ(text, "unchanged");
    const auto shown = m_messages.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, QStringLiteral("数据库可能已经断开,\r\n请重新连接、然后重试."));
    EXPECT_EQ(shown[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(shown[0].icon, EMsgIcon::Information);
    // The other fetches fail without a word.
    bool flag = true;
    EXPECT_FALSE(rs.GetCollectBool(1, flag));
    int number = 1;
    EXPECT_FALSE(rs.GetCollectInt(3, number));
    EXPECT_EQ(m_messages.Count(), 2u);
}

TEST_F(RecordSetTest, ASetThatNeverOpenedRefusesEveryPositionSilently)
{
    CAdoRecordSet rs(&m_connection);
    EXPECT_FALSE(rs.Open("select * from [no such table]"));
    EXPECT_FALSE(rs.IsOpen());
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_EQ(rs.GetFieldsCount(), -1);
    QString text;
    EXPECT_FALSE(rs.GetCollect(0, text));
    EXPECT_FALSE(rs.MoveNext());

    CAdoRecordSet unbound(nullptr);
    EXPECT_FALSE(unbound.Open("select * from [user]"));
    CAdoRecordSet noQuery(&m_connection);
    EXPECT_FALSE(noQuery.Open());
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(RecordSetTest, SyntaxErrorsAndSecondStatementsFailWithoutAWord)
{
    ASSERT_TRUE(
        m_connection.Execute("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('a','b','c')"));
    EXPECT_FALSE(m_connection.Execute("delete form [AutoSend]"));
    EXPECT_FALSE(m_connection.Execute("insert into [AutoSend] values ('unterminated)"));
    EXPECT_FALSE(m_connection.Execute(""));
    // Two statements in one text: neither runs.
    EXPECT_FALSE(m_connection.Execute("delete from [AutoSend]; delete from [user]"));
    EXPECT_EQ(ReadColumn(m_connection, "select * from [AutoSend]", 0), QStringList{"a"});
    CAdoRecordSet rs(&m_connection);
    EXPECT_FALSE(rs.Open("select * from [AutoSend]; delete from [AutoSend]"));
    EXPECT_EQ(ReadColumn(m_connection, "select * from [AutoSend]", 0), QStringList{"a"});
    // A trailing semicolon and comment are one statement.
    EXPECT_TRUE(m_connection.Execute("delete from [AutoSend]; -- done"));
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(RecordSetTest, AReadingLoopEndsWhenTheStoreFailsMidway)
{
    // The second row overflows on the store's side while it is being stepped to.
    CAdoRecordSet rs(&m_connection);
    ASSERT_TRUE(rs.Open("select abs(v) from (select 1 as v union all select -9223372036854775807 - 1)"));
    int rows = 0;
    while (!rs.IsEOF() && rows < 100) {
        QString text;
        EXPECT_TRUE(rs.GetCollect(0, text));
        EXPECT_EQ(text, "1");
        ++rows;
        EXPECT_FALSE(rs.MoveNext());
    }
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(RecordSetTest, ColumnCollectionNamesColumnsInTableOrder)
{
    CAdoRecordSet rs(&m_connection);
    ASSERT_TRUE(rs.Open("select * from [AutoSend]"));
    EXPECT_TRUE(rs.IsEOF());
    ASSERT_EQ(rs.GetFieldsCount(), 3);
    EXPECT_EQ(rs.GetFieldName(0), "ClientName");
    EXPECT_EQ(rs.GetFieldName(2), "Message");
    EXPECT_TRUE(rs.GetFieldName(3).isEmpty());
    EXPECT_TRUE(HasColumn(rs, "username"));
    EXPECT_TRUE(HasColumn(rs, "MESSAGE"));
    EXPECT_FALSE(HasColumn(rs, "AddRandom"));
}

TEST(Statements, DateLiteralsBecomeTextOutsideQuotesAndBrackets)
{
    const struct
    {
        const char* jet;
        const char* sqlite;
    } cases[] = {
        {"where lasttime between #2009-03-03 00:00:00# and #2009-03-03 23:59:59#",
         "where lasttime between '2009-03-03 00:00:00' and '2009-03-03 23:59:59'"},
        {"where lasttime < #2009-3-3#", "where lasttime < '2009-03-03 00:00:00'"},
        {"where lasttime = #3/4/2009 14:05:09#", "where lasttime = '2009-03-04 14:05:09'"},
        {"where [guestname] = 'a#b#c' and x = #2009-03-03 01:02:03#",
         "where [guestname] = 'a#b#c' and x = '2009-03-03 01:02:03'"},
        {"where [a#b#] = 'it''s #1#'", "where [a#b#] = 'it''s #1#'"},
        {"where x = #not a date#", "where x = 'not a date'"},
        {"where x = #it's#", "where x = 'it''s'"},
        {"select 1 # unmatched", "select 1 # unmatched"},
        {"select * from [user]", "select * from [user]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TranslateStatement(c.jet), QString::fromUtf8(c.sqlite)) << c.jet;
}

TEST(Statements, SqlTextDoublesEverySingleQuote)
{
    EXPECT_EQ(SqlText("O'Brien"), "O''Brien");
    EXPECT_EQ(SqlText("';drop table [client];--"), "'';drop table [client];--");
    EXPECT_EQ(SqlText("''"), "''''");
    EXPECT_EQ(SqlText(QStringLiteral("张三")), QStringLiteral("张三"));
}

// Serialised mode: the window's thread and the workers share one connection.
TEST_F(RecordSetTest, ThreadsShareTheOneConnection)
{
    constexpr int kThreads = 4;
    constexpr int kRows = 150;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &failures] {
            for (int i = 0; i < kRows; ++i) {
                const QString name = QStringLiteral("t%1-%2").arg(t).arg(i);
                if (!m_connection.Execute(QStringLiteral("insert into [client] ([guestname],[shopname],[count]) "
                                                         "values ('%1','shop',1)")
                                              .arg(SqlText(name))))
                    ++failures;
                CAdoRecordSet rs(&m_connection);
                QString read;
                if (!rs.Open(QStringLiteral("select * from [client] where [guestname] = '%1'").arg(name)) ||
                    rs.IsEOF() || !rs.GetCollect(1, read) || read != name)
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ReadColumn(m_connection, "select count(*) from [client]", 0),
              QStringList{QString::number(kThreads * kRows)});
}

} // namespace
