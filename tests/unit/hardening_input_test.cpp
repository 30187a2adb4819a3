// What a person types, at its worst: quotes, percent signs, backslashes,
// emoji, statement look-alikes and 10,000 characters. Each value goes through
// the statements the program really issues (accounts, visits, greetings, the
// history filters) and comes back intact; query values are cut at a whole
// character; greeting templates expand around it unchanged.
#include "greet/Greeting.h"
#include "tables/VisitStatements.h"
#include "net/HttpText.h"
#include "net/UrlEncode.h"
#include "platform/TextCodec.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"
#include "tables/AccountTable.h"

#include "support/StoreTestSupport.h"
#include "support/TestMain.h"

#include <QRegularExpression>

namespace {

struct TypedText
{
    const char* name;
    QString text;
};

QString Long10000()
{
    // Chinese, ASCII and the troublesome characters, 10,000 in all.
    const QString unit = QStringLiteral("张'%\\a\"#_😀");
    QString text;
    while (text.size() < 10000)
        text += unit;
    text.truncate(10000);
    // Do not end inside a surrogate pair.
    if (text.back().isHighSurrogate())
        text.back() = QLatin1Char('z');
    return text;
}

std::vector<TypedText> Texts()
{
    return {
        {"single quotes", QStringLiteral("o'brien's ''shop''")},
        {"double quotes", QStringLiteral("say \"hi\"")},
        {"percent signs", QStringLiteral("100% %41%zz% %1 %2%%")},
        {"backslashes", QStringLiteral("C:\\shop\\n\\'x\\\\")},
        {"emoji", QStringLiteral("笑😀👍🏽 ok")},
        {"statement look-alikes", QStringLiteral("a'); delete from [client]; -- #6/1/2024# [user]")},
        {"placeholders of the greeting", QStringLiteral("[username] [randomcode] [user")},
        {"line breaks and tabs", QStringLiteral("line1\r\nline2\tend")},
        {"LIKE wildcards", QStringLiteral("a_b%c")},
        {"10000 characters", Long10000()},
    };
}

std::string CaseName(const ::testing::TestParamInfo<size_t>& info)
{
    std::string name = Texts()[info.param].name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

class TypedInputTest : public ::testing::TestWithParam<size_t>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(OpenStore(m_dir.path()));
        m_text = Texts()[GetParam()].text;
    }
    void TearDown() override { CloseStore(); }

    QStringList Column(const QString& sql, int position) { return ReadColumn(*g_pConnection, sql, position); }

    QTemporaryDir m_dir;
    CMessageRecorder m_messages;
    QString m_text;
};

TEST_P(TypedInputTest, AccountFieldsAreStoredAndReadBackIntact)
{
    CAccount account;
    account.userName = m_text;
    account.password = m_text + QStringLiteral("pw");
    account.greetingAccount = QStringLiteral("im") + m_text;
    account.greeting = QStringLiteral("Hello [username], ") + m_text;
    account.webId = QStringLiteral("12345");
    ASSERT_TRUE(CAccountTable().Insert(account));
    EXPECT_EQ(CAccountTable().Find(m_text), EAccountLookup::Exists);
    // Another name that only looks alike is not found.
    EXPECT_EQ(CAccountTable().Find(m_text + QStringLiteral("x")), EAccountLookup::Missing);

    CAccount read;
    ASSERT_EQ(CAccountTable().Find(m_text, &read), EAccountLookup::Exists);
    EXPECT_EQ(read.userName, account.userName);
    EXPECT_EQ(read.password, account.password);
    EXPECT_EQ(read.greetingAccount, account.greetingAccount);
    EXPECT_EQ(read.greeting, account.greeting);

    account.password = QStringLiteral("new") + m_text;
    account.greeting = m_text;
    ASSERT_TRUE(CAccountTable().Update(account));
    ASSERT_TRUE(CAccountTable().SaveGreeting(m_text, m_text + m_text.left(3), false));
    ASSERT_EQ(CAccountTable().Find(m_text, &read), EAccountLookup::Exists);
    EXPECT_EQ(read.password, account.password);
    EXPECT_EQ(read.greeting, m_text + m_text.left(3));
    EXPECT_FALSE(read.autoSend);

    const QList<CAccount> list = CAccountTable().ReadAll();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].userName, m_text);

    ASSERT_TRUE(CAccountTable().Delete(m_text));
    EXPECT_EQ(CAccountTable().Find(m_text), EAccountLookup::Missing);
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_P(TypedInputTest, VisitsAreFoundByTheHistoryFilters)
{
    // The visit insert and look-up of a poll, with the typed text as visitor and shop.
    const QString insert =
        QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] , "
                       "[shopurl] , [imuid]) values ('%1','%2','%3','%4',%5,'%6','%7','%8')")
            .arg(SqlText(m_text), SqlText(QStringLiteral("1.2.3.4")), SqlText(m_text),
                 SqlText(QStringLiteral("2024-06-01 12:00:00")), QStringLiteral("1"), SqlText(m_text), SqlText(m_text),
                 SqlText(m_text));
    ASSERT_TRUE(g_pConnection->Execute(insert));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("insert into [client] ([guestname], [shopname]) values "
                                                      "('plain', 'other')")));
    EXPECT_EQ(Column(QStringLiteral("select * from [client] where [guestname] = '%1'and [shopname] = '%2'")
                         .arg(SqlText(m_text), SqlText(m_text)),
                     1),
              QStringList{m_text});

    // The filters find the row by the whole text and by a part of it.
    EXPECT_EQ(Column(HistoryVisitorSql(m_text), 1), QStringList{m_text});
    EXPECT_EQ(Column(HistoryShopSql(m_text), 3), QStringList{m_text});
    const QString part = m_text.left(m_text.size() / 2);
    EXPECT_TRUE(Column(HistoryVisitorSql(part), 1).contains(m_text));
    EXPECT_TRUE(Column(HistoryShopSql(part), 3).contains(m_text));
    // Every column read back as written.
    const auto rows =
        ReadRows(*g_pConnection, QStringLiteral("select * from [client] where [shopname] = '%1'").arg(SqlText(m_text)),
                 {1, 3, 6, 7, 8});
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0], (QStringList{m_text, m_text, m_text, m_text, m_text}));
}

TEST_P(TypedInputTest, QueuedGreetingsKeepTheirTemplate)
{
    const QString tmpl = QStringLiteral("Hi [username]! ") + m_text + QStringLiteral(" code [randomcode]");
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("insert into [AutoSend] ([ClientName] , [UserName] , [Message]) values ('%1' , '%2' , '%3')")
            .arg(SqlText(m_text), SqlText(m_text), SqlText(tmpl))));
    const auto rows = ReadRows(*g_pConnection,
                               QStringLiteral("select [ClientName], [UserName], [Message] from [AutoSend]"), {0, 1, 2});
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0], (QStringList{m_text, m_text, tmpl}));

    // The visitor's name goes in as written; the typed text of the template stays as it is
    // except for the placeholders it holds itself.
    const QString expanded = ExpandGreeting(QStringLiteral("Hi [username]!"), m_text);
    if (!m_text.contains(QStringLiteral("[randomcode]"))) {
        EXPECT_EQ(expanded, QStringLiteral("Hi ") + m_text + QStringLiteral("!"));
    } else {
        // The code step runs after the name went in, so a name spelling the code's
        // placeholder gets a code there; everything else of it stays.
        const QString pattern =
            QRegularExpression::escape(QStringLiteral("Hi ") + m_text + QStringLiteral("!"))
                .replace(QRegularExpression::escape(QStringLiteral("[randomcode]")), QStringLiteral("[0-9A-F]{32}"));
        EXPECT_TRUE(QRegularExpression(QLatin1Char('^') + pattern + QLatin1Char('$')).match(expanded).hasMatch())
            << expanded.toStdString();
    }
    const QString plainTemplate =
        QString(m_text).remove(QStringLiteral("[username]")).remove(QStringLiteral("[randomcode]"));
    EXPECT_EQ(ExpandGreeting(plainTemplate, QStringLiteral("visitor")), plainTemplate);
}

TEST_P(TypedInputTest, QueryValuesAreCutAtAWholeCharacter)
{
    const QString value = ToQueryValue(m_text);
    // Only characters a query may carry as they are, and escapes, stand in a query value.
    for (QChar c : value)
        ASSERT_TRUE(c.isLetterOrNumber() || QStringLiteral("%'()*-._").contains(c)) << value.toStdString();
    const QByteArray bytes = CURLEncode::DecodeBytes(value.toLatin1());
    EXPECT_LE(bytes.size(), kQueryValueBytes);
    const QString decoded = OemToUnicode(bytes);
    EXPECT_FALSE(decoded.contains(QChar::ReplacementCharacter));
    // What the code page can hold arrives as typed, up to the cut.
    const QString representable = OemToUnicode(UnicodeToOem(m_text));
    EXPECT_TRUE(representable.startsWith(decoded)) << decoded.toStdString();
    if (UnicodeToOem(m_text).size() <= kQueryValueBytes)
        EXPECT_EQ(decoded, representable);
    else
        EXPECT_GE(bytes.size(), kQueryValueBytes - 3); // cut at most one character short
}

INSTANTIATE_TEST_SUITE_P(Typed, TypedInputTest, ::testing::Range<size_t>(0, Texts().size()), CaseName);

// Statements whose values hold what looks like a date literal: the translation
// touches only #...# outside quotes and brackets. The last one is the input that
// once tripped the statement fuzzer's own scanner (a date literal holding a quote).
struct Translation
{
    const char* sql;
    const char* expected;
};

TEST(TypedStatementTest, DateLookAlikesInValuesStayAsTyped)
{
    const Translation cases[] = {
        {"select * from [client] where [guestname] = '#6/1/2024#'",
         "select * from [client] where [guestname] = '#6/1/2024#'"},
        {"select * from [client] where [guestname] = 'a''#b#'", "select * from [client] where [guestname] = 'a''#b#'"},
        {"select * from [#x#] where [lasttime] >= #2024-06-01#",
         "select * from [#x#] where [lasttime] >= '2024-06-01 00:00:00'"},
        {"insert into [AutoSend] valuesom'a''#b#', ]#x3\", [#y#])",
         "insert into [AutoSend] valuesom'a''#b#', ]'x3\", ['y#])"},
    };
    for (const Translation& t : cases)
        EXPECT_EQ(TranslateStatement(QString::fromUtf8(t.sql)), QString::fromUtf8(t.expected)) << t.sql;
}

} // namespace
