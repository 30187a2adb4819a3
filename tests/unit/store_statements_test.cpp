#include "support/TestMain.h"

#include "support/StoreTestSupport.h"

// Every statement the program issues, formatted from its own template, against a real file.
namespace {

template <typename... Args> QString Fmt(const char* tmpl, Args... args)
{
    return QString::asprintf(tmpl, args...);
}

// Text for a %s: quotes doubled, as every statement-building caller does.
QByteArray S(const QString& value)
{
    return SqlText(value).toUtf8();
}

const char kInsertUser[] =
    "insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend]) "
    "values ('%s','%s','%s','%s','%s',%d)";
const char kInsertVisit[] = "insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] , "
                            "[shopurl] , [imuid]) values ('%s','%s','%s','%s',%d,'%s','%s','%s')";
const char kInsertGreeting[] =
    "insert into [AutoSend] ([ClientName] , [UserName] , [Message]) values ('%s' , '%s' , '%s')";
const char kVisitExists[] = "select * from [client] where [guestname] = '%s'and [shopname] = '%s'";
const char kByVisitor[] = "select * from [client] where guestname like '%%%s%%'order by [id] desc";
const char kByShop[] = "select * from [client] where shopname like '%%%s%%'order by [id] desc";
const char kDayRange[] = "select * from [client] where lasttime between #%s# and #%s# order by [id] desc";
const char kDeleteRange[] = "delete from [client] where lasttime between #%s# and #%s#";
const char kSaveSettings[] = "update [sysseting] set [autorun] = %d ,[clienttip] = %d,[reflashtime] = %d,"
                             "[sendsteptime] = %d,[autosendname] = '%s',[hiedition] = %d,[guesttip] = %d , "
                             "[playsound] = %d where [id] = 1";

class StatementTest : public CStoreTest
{
protected:
    bool AddUser(const QString& name, const QString& im, const QString& pwd, const QString& webId,
                 const QString& greeting, int autoSend)
    {
        return m_connection.Execute(Fmt(kInsertUser, S(name).constData(), S(im).constData(), S(pwd).constData(),
                                        S(webId).constData(), S(greeting).constData(), autoSend));
    }
    bool AddVisit(const QString& guest, const QString& shop, const QString& time, const QString& url = "未知链接")
    {
        return m_connection.Execute(Fmt(kInsertVisit, S(guest).constData(), S("1.2.3.4").constData(),
                                        S(shop).constData(), S(time).constData(), 1, S("未知区域").constData(),
                                        S(url).constData(), S("id-" + guest).constData()));
    }
    bool Exists(const QString& sql)
    {
        CAdoRecordSet rs(&m_connection);
        return rs.Open(sql) && !rs.IsEOF();
    }
    QStringList Names(const QString& sql) { return ReadColumn(m_connection, sql, 1); }
};

TEST_F(StatementTest, UserStatements)
{
    ASSERT_TRUE(AddUser(QStringLiteral("店主甲"), "im-a", "pw1", "101", "您好 {name}", 1));
    ASSERT_TRUE(AddUser("O'Brien", "", "p'w", "202abc", "it's me", 0));

    EXPECT_EQ(Names("select * from [user]"), (QStringList{QStringLiteral("店主甲"), "O'Brien"}));
    EXPECT_TRUE(Exists(Fmt("select * from [user] where [username] = '%s'", S("O'Brien").constData())));
    EXPECT_FALSE(Exists(Fmt("select * from [user] where [username] = '%s'", S("O'Brie").constData())));

    // The account list: name and web ID, by id.
    EXPECT_EQ(ReadRows(m_connection, "select * from [user] order by [id]", {1, 4}),
              (QList<QStringList>{{QStringLiteral("店主甲"), "101"}, {"O'Brien", "202abc"}}));

    // The selected account, as the settings page reads it.
    {
        CAdoRecordSet rs(&m_connection);
        ASSERT_TRUE(rs.Open(Fmt("select * from [user] where [username] ='%s'", S("O'Brien").constData())));
        ASSERT_FALSE(rs.IsEOF());
        QString name, im, pwd, greeting;
        bool autoSend = true;
        int webId = 0;
        EXPECT_TRUE(rs.GetCollect(1, name));
        EXPECT_TRUE(rs.GetCollect(2, im));
        EXPECT_TRUE(rs.GetCollect(3, pwd));
        EXPECT_TRUE(rs.GetCollect(5, greeting));
        EXPECT_TRUE(rs.GetCollectBool(6, autoSend));
        EXPECT_TRUE(rs.GetCollectInt(4, webId));
        EXPECT_EQ(name, "O'Brien");
        EXPECT_EQ(im, "");
        EXPECT_EQ(pwd, "p'w");
        EXPECT_EQ(greeting, "it's me");
        EXPECT_FALSE(autoSend);
        EXPECT_EQ(webId, 202); // the web ID's leading digits
    }

    ASSERT_TRUE(
        m_connection.Execute(Fmt("update [user] set [messageinfo] = '%s',[autosend] = %d where [username] = '%s'",
                                 S("new 'greeting'").constData(), 1, S("O'Brien").constData())));
    EXPECT_EQ(
        ReadRows(m_connection, Fmt("select * from [user] where [username] ='%s'", S("O'Brien").constData()), {5, 6}),
        (QList<QStringList>{{"new 'greeting'", "TRUE"}}));

    ASSERT_TRUE(m_connection.Execute(Fmt("update [user] set [password] = '%s',[usersmailname] = '%s',"
                                         "[messageinfo] = '%s',[autosend] = %d where [username] = '%s';",
                                         S("pw2").constData(), S("im-b").constData(), S("hi").constData(), 0,
                                         S(QStringLiteral("店主甲")).constData())));
    EXPECT_EQ(ReadRows(m_connection, "select * from [user] order by id", {1, 2, 3, 5, 6}),
              (QList<QStringList>{{QStringLiteral("店主甲"), "im-b", "pw2", "hi", "FALSE"},
                                  {"O'Brien", "", "p'w", "new 'greeting'", "TRUE"}}));

    // Deleting an account leaves its visits in the history.
    ASSERT_TRUE(AddVisit("v1", "O'Brien", "2009-03-03 10:00:00"));
    ASSERT_TRUE(m_connection.Execute(Fmt("delete from [user] where [username] = '%s';", S("O'Brien").constData())));
    EXPECT_EQ(Names("select * from [user] order by id"), QStringList{QStringLiteral("店主甲")});
    EXPECT_EQ(ReadColumn(m_connection, "select * from [client] order by [id] desc", 3), QStringList{"O'Brien"});
}

TEST_F(StatementTest, SettingsStatements)
{
    // A new store's row: a new owner hears and sees every visitor.
    {
        CAdoRecordSet rs(&m_connection);
        ASSERT_TRUE(rs.Open("select * from [sysseting] where [id] = 1"));
        ASSERT_FALSE(rs.IsEOF());
        bool autorun = true, clienttip = false, guesttip = false, playsound = false;
        int reflash = 0, step = 0;
        EXPECT_TRUE(rs.GetCollectBool(1, autorun));
        EXPECT_TRUE(rs.GetCollectBool(2, clienttip));
        EXPECT_TRUE(rs.GetCollectInt(3, reflash));
        EXPECT_TRUE(rs.GetCollectInt(4, step));
        EXPECT_TRUE(rs.GetCollectBool(7, guesttip));
        EXPECT_TRUE(rs.GetCollectBool(8, playsound));
        EXPECT_FALSE(autorun);
        EXPECT_TRUE(clienttip);
        EXPECT_EQ(reflash, 30);
        EXPECT_EQ(step, 6);
        EXPECT_TRUE(guesttip);
        EXPECT_TRUE(playsound);
    }
    ASSERT_TRUE(m_connection.Execute(Fmt(kSaveSettings, 1, 0, 45, 9, "NULL", 0, 0, 1)));
    EXPECT_EQ(ReadRows(m_connection, "select * from [sysseting] where [id] = 1", {0, 1, 2, 3, 4, 5, 6, 7, 8}),
              (QList<QStringList>{{"1", "TRUE", "FALSE", "45", "9", "NULL", "0", "FALSE", "TRUE"}}));
}

TEST_F(StatementTest, VisitStatements)
{
    ASSERT_TRUE(AddVisit("alice", "shopA", "2009-03-02 23:59:59", "http://item/1"));
    ASSERT_TRUE(AddVisit("bob", "shopA", "2009-03-03 00:00:00", "http://item/2"));
    ASSERT_TRUE(AddVisit("Alicia", "shopB", "2009-03-03 14:05:09", "http://item/1"));
    ASSERT_TRUE(AddVisit("carol", "myshopC", "2009-03-03 23:59:59", "http://item/1"));
    ASSERT_TRUE(AddVisit("dave", "shopA", "2009-03-04 00:00:00", "http://item/3"));

    EXPECT_TRUE(Exists(Fmt(kVisitExists, S("alice").constData(), S("shopA").constData())));
    EXPECT_FALSE(Exists(Fmt(kVisitExists, S("alice").constData(), S("shopB").constData())));

    // The visitor list, latest first, and everything the history shows.
    EXPECT_EQ(Names("select * from [client] order by [lasttime] desc"),
              (QStringList{"dave", "carol", "Alicia", "bob", "alice"}));
    EXPECT_EQ(ReadRows(m_connection, "select * from [client] order by [id] desc", {0, 1, 2, 3, 4, 5, 6, 7}).first(),
              (QStringList{"5", "dave", "1.2.3.4", "shopA", "2009-03-04 00:00:00", "1", QStringLiteral("未知区域"),
                           "http://item/3"}));
    EXPECT_EQ(ReadRows(m_connection, "select * from [client] order by [id] desc", {8}).first(), QStringList{"id-dave"});

    // Substring matches, case as the store compares it.
    EXPECT_EQ(Names(Fmt(kByVisitor, S("lic").constData())), (QStringList{"Alicia", "alice"}));
    EXPECT_EQ(Names(Fmt(kByVisitor, S("ALI").constData())), (QStringList{"Alicia", "alice"}));
    EXPECT_EQ(Names(Fmt(kByShop, S("shopA").constData())), (QStringList{"dave", "bob", "alice"}));
    EXPECT_EQ(Names(Fmt(kByShop, S("shop").constData())).size(), 5);
    EXPECT_TRUE(Names(Fmt(kByShop, S("nobody").constData())).isEmpty());

    // One day: 00:00:00 to 23:59:59 inclusive, neither neighbour.
    EXPECT_EQ(Names(Fmt(kDayRange, "2009-03-03 00:00:00", "2009-03-03 23:59:59")),
              (QStringList{"carol", "Alicia", "bob"}));
    EXPECT_EQ(Names(Fmt(kDayRange, "2009-03-02 00:00:00", "2009-03-03 23:59:59")).size(), 4);

    // The item ranking: visits per item address, most first.
    EXPECT_EQ(ReadRows(m_connection,
                       "select [shopurl],count(shopurl) from [client] group by [shopurl] order by count(shopurl) desc",
                       {0, 1})
                  .first(),
              (QStringList{"http://item/1", "3"}));

    ASSERT_TRUE(m_connection.Execute(Fmt("delete from [client] where id = %s", "2")));
    EXPECT_FALSE(Exists(Fmt(kVisitExists, S("bob").constData(), S("shopA").constData())));
    ASSERT_TRUE(m_connection.Execute(Fmt(kDeleteRange, "2009-03-03 00:00:00", "2009-03-03 23:59:59")));
    EXPECT_EQ(Names("select * from [client] order by [id] desc"), (QStringList{"dave", "alice"}));

    // One transaction: a condition that fails deletes nothing; one that keeps a row deletes
    // the others; one that takes every row empties the table.
    EXPECT_FALSE(m_connection.DeleteWhere("[client]", "[nosuchcolumn] = 1"));
    EXPECT_TRUE(m_connection.DeleteWhere("[client]", "id in (select value from json_each('[1,7]'))"));
    EXPECT_EQ(Names("select * from [client] order by [id] desc"), QStringList{"dave"});
    ASSERT_TRUE(AddVisit("erin", "shopA", "2009-03-05 00:00:00"));
    EXPECT_TRUE(
        m_connection.DeleteWhere("[client]", "lasttime between #2009-03-04 00:00:00# and #2009-03-05 23:59:59#"));
    EXPECT_TRUE(Names("select * from [client]").isEmpty());
}

TEST_F(StatementTest, GreetingQueueStatements)
{
    ASSERT_TRUE(m_connection.Execute(Fmt(kInsertGreeting, S("v'1").constData(), S("shop").constData(),
                                         S(QStringLiteral("你好 [name]")).constData())));
    ASSERT_TRUE(m_connection.Execute(Fmt(kInsertGreeting, "v2", "shop", "hi")));
    EXPECT_EQ(ReadRows(m_connection, "select * from [AutoSend]", {0, 1, 2}),
              (QList<QStringList>{{"v'1", "shop", QStringLiteral("你好 [name]")}, {"v2", "shop", "hi"}}));
    ASSERT_TRUE(m_connection.Execute("delete from [AutoSend]"));
    EXPECT_TRUE(ReadRows(m_connection, "select * from [AutoSend]", {0}).isEmpty());
}

TEST_F(StatementTest, NamesWithQuotesAreStoredAndFoundIntact)
{
    const QString names[] = {"O'Brien", "';drop table [client];--", "''", "a'); delete from [user]; --"};
    for (const QString& name : names) {
        ASSERT_TRUE(AddVisit(name, name, "2009-03-03 12:00:00")) << qPrintable(name);
        ASSERT_TRUE(AddUser(name, name, name, "1", name, 1)) << qPrintable(name);
    }
    for (const QString& name : names) {
        EXPECT_TRUE(Exists(Fmt(kVisitExists, S(name).constData(), S(name).constData()))) << qPrintable(name);
        EXPECT_EQ(Names(Fmt("select * from [user] where [username] = '%s'", S(name).constData())), QStringList{name});
        EXPECT_TRUE(Names(Fmt(kByVisitor, S(name).constData())).contains(name)) << qPrintable(name);
    }
    EXPECT_EQ(Names("select * from [client] order by [id] desc").size(), 4);
    EXPECT_EQ(Names("select * from [user] order by id").size(), 4);
    ASSERT_TRUE(m_connection.Execute(Fmt("delete from [user] where [username] = '%s';", S("O'Brien").constData())));
    EXPECT_EQ(Names("select * from [user] order by id").size(), 3);
}

} // namespace
