// Greeting templates: placeholders, the random code, the default template.
#include "support/TestMain.h"

#include "greet/Greeting.h"

#include <QRegularExpression>
#include <QSet>

namespace {

const QRegularExpression kCode(QStringLiteral("^[0-9A-F]{32}$"));
const QString kCodeMark = QStringLiteral("<CODE>");

// The expansion with every code replaced by a mark, and the codes found.
QString MaskCodes(QString text, QStringList& codes)
{
    static const QRegularExpression anyCode(QStringLiteral("[0-9A-F]{32}"));
    for (const QRegularExpressionMatch& match : anyCode.globalMatch(text))
        codes.append(match.captured());
    text.replace(anyCode, kCodeMark);
    return text;
}

struct CExpansionCase
{
    const char* name;
    QString tmpl;
    QString visitor;
    QString expectedMasked; // <CODE> where the code goes
    int codes;
};

class GreetingExpansion : public ::testing::TestWithParam<CExpansionCase>
{
};

} // namespace

TEST_P(GreetingExpansion, ReplacesPlaceholdersWithOneCodePerMessage)
{
    const CExpansionCase& c = GetParam();
    QStringList codes;
    const QString masked = MaskCodes(ExpandGreeting(c.tmpl, c.visitor), codes);
    EXPECT_EQ(masked, c.expectedMasked);
    ASSERT_EQ(codes.size(), c.codes);
    for (const QString& code : codes)
        EXPECT_EQ(code, codes.first()) << "every [randomcode] of one message carries the same code";
}

INSTANTIATE_TEST_SUITE_P(
    Templates, GreetingExpansion,
    ::testing::Values(
        CExpansionCase{"NameTwice", QStringLiteral("[username]你好，[username]!"), QStringLiteral("张三"),
                       QStringLiteral("张三你好，张三!"), 0},
        CExpansionCase{"CodeTwice", QStringLiteral("[randomcode]-[randomcode]"), QStringLiteral("x"),
                       QStringLiteral("<CODE>-<CODE>"), 2},
        CExpansionCase{"OtherCaseStays", QStringLiteral("[UserName] [USERNAME] [RandomCode] [username]"),
                       QStringLiteral("李四"), QStringLiteral("[UserName] [USERNAME] [RandomCode] 李四"), 0},
        CExpansionCase{"NameHoldingCodePlaceholderGetsTheCode", QStringLiteral("hi [username] [randomcode]"),
                       QStringLiteral("a[randomcode]b"), QStringLiteral("hi a<CODE>b <CODE>"), 2},
        CExpansionCase{"NameHoldingNamePlaceholderStays", QStringLiteral("[username]!"), QStringLiteral("[username]"),
                       QStringLiteral("[username]!"), 0},
        CExpansionCase{"EmptyNameRemovesPlaceholder", QStringLiteral("你好[username]。"), QString(),
                       QStringLiteral("你好。"), 0},
        CExpansionCase{"NoPlaceholders", QStringLiteral("<&>' 😀 [other]"), QStringLiteral("王五"),
                       QStringLiteral("<&>' 😀 [other]"), 0},
        CExpansionCase{"UnclosedPlaceholder", QStringLiteral("[username [randomcode"), QStringLiteral("n"),
                       QStringLiteral("[username [randomcode"), 0},
        CExpansionCase{"Default", DefaultGreeting(), QStringLiteral("赵六"),
                       QStringLiteral("亲爱的 赵六,欢迎光临！随便看看哦，有什么需要帮忙的随时招呼我！<CODE>"), 1}),
    [](const ::testing::TestParamInfo<CExpansionCase>& info) { return std::string(info.param.name); });

TEST(GreetingTemplate, DefaultTemplateIsTheOfferedText)
{
    EXPECT_EQ(DefaultGreeting().size(), 52);
    EXPECT_TRUE(DefaultGreeting().startsWith(QStringLiteral("亲爱的 [username],")));
    EXPECT_TRUE(DefaultGreeting().endsWith(QStringLiteral("[randomcode]")));
}

TEST(GreetingTemplate, TwoExpansionsCarryDifferentCodes)
{
    QStringList first;
    QStringList second;
    MaskCodes(ExpandGreeting(QStringLiteral("[randomcode]"), QString()), first);
    MaskCodes(ExpandGreeting(QStringLiteral("[randomcode]"), QString()), second);
    ASSERT_EQ(first.size(), 1);
    ASSERT_EQ(second.size(), 1);
    EXPECT_NE(first[0], second[0]);
}

TEST(GreetingRandomCode, ThirtyTwoUpperCaseHexDigitsLaidOutAsTheUuidFields)
{
    QSet<QString> seen;
    for (int i = 0; i < 2000; ++i) {
        const QString code = MakeRandomCode();
        ASSERT_TRUE(kCode.match(code).hasMatch()) << qPrintable(code);
        // A random UUID: version 4 leads the third field, the variant bits the fourth.
        EXPECT_EQ(code.at(12), QLatin1Char('4')) << qPrintable(code);
        EXPECT_TRUE(QStringLiteral("89AB").contains(code.at(16))) << qPrintable(code);
        seen.insert(code);
    }
    EXPECT_EQ(seen.size(), 2000);
}
