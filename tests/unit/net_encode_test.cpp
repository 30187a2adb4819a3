// Percent-encoding of query values and its reverse.
#include "support/TestMain.h"

#include "net/HttpText.h"
#include "net/UrlEncode.h"
#include "platform/TextCodec.h"

#include <QRegularExpression>

namespace {

struct SEncodeCase
{
    const char* name;
    QString value;
    QString expected;
};

void PrintTo(const SEncodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ToQueryValueTest : public ::testing::TestWithParam<SEncodeCase>
{
};

TEST_P(ToQueryValueTest, EncodesOemBytes)
{
    EXPECT_EQ(ToQueryValue(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToQueryValueTest,
    ::testing::Values(SEncodeCase{"blank_and_ampersand", QStringLiteral("a b&c"), QStringLiteral("a%20b%26c")},
                      SEncodeCase{"unreserved_unchanged", QStringLiteral("x_y.z-1"), QStringLiteral("x_y.z-1")},
                      SEncodeCase{"chinese_two_gbk_groups", QStringLiteral("中"), QStringLiteral("%D6%D0")},
                      SEncodeCase{"mixed", QStringLiteral("店a铺"), QStringLiteral("%B5%EAa%C6%CC")},
                      SEncodeCase{"apostrophe_parens_star", QStringLiteral("'()*"), QStringLiteral("'()*")},
                      SEncodeCase{"braces_tilde", QStringLiteral("{|}~"), QStringLiteral("%7B%7C%7D%7E")},
                      SEncodeCase{"newline_zero_padded", QStringLiteral("\n"), QStringLiteral("%0A")},
                      SEncodeCase{"plus_comma_slash", QStringLiteral("+,/"), QStringLiteral("%2B%2C%2F")},
                      SEncodeCase{"zero_char_ends_value", QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"),
                                  QStringLiteral("ab")},
                      SEncodeCase{"empty", QString(), QString()}),
    [](const auto& info) { return std::string(info.param.name); });

// Independent statement of which bytes pass unchanged: letters, digits and ' ( ) * - . _
bool PassesUnchanged(int b)
{
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '\'' || b == '(' ||
           b == ')' || b == '*' || b == '-' || b == '.' || b == '_';
}

// Passwords and IM IDs: letters, digits and -_.~ stay, every other code-page byte is encoded.
TEST(ToPlainQueryValueTest, KeepsOnlyTheUnreservedCharacters)
{
    const struct
    {
        QString value;
        QString expected;
    } cases[] = {
        {QStringLiteral("Pw-12_x.y~"), QStringLiteral("Pw-12_x.y~")},
        {QStringLiteral("a b&c=d#e+f%g"), QStringLiteral("a%20b%26c%3Dd%23e%2Bf%25g")},
        {QStringLiteral("'()*!/?@"), QStringLiteral("%27%28%29%2A%21%2F%3F%40")},
        {QStringLiteral("密码"), QStringLiteral("%C3%DC%C2%EB")},
        {QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"), QStringLiteral("ab")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToPlainQueryValue(c.value), c.expected) << qPrintable(c.value);
}

TEST(CURLEncodeTest, EveryByteFollowsTheTable)
{
    int encoded = 0;
    for (int b = 0; b < 256; ++b) {
        const QString out = CURLEncode::Encode(QByteArray(1, static_cast<char>(b)));
        if (PassesUnchanged(b)) {
            EXPECT_EQ(out, QString(QChar(b))) << "byte " << b;
        } else {
            ++encoded;
            EXPECT_EQ(out, QStringLiteral("%%1").arg(b, 2, 16, QLatin1Char('0')).toUpper()) << "byte " << b;
        }
    }
    // 256 bytes minus 52 letters, 10 digits and 7 marks.
    EXPECT_EQ(encoded, 256 - 69);
}

TEST(CURLEncodeTest, EncodeThenDecodeGivesTheBytesBack)
{
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(CURLEncode::DecodeBytes(CURLEncode::Encode(all).toLatin1()), all);
}

struct SDecodeCase
{
    const char* name;
    QString text;
    QString expected;
};

void PrintTo(const SDecodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeTest : public ::testing::TestWithParam<SDecodeCase>
{
};

TEST_P(DecodeTest, Decodes)
{
    EXPECT_EQ(CURLEncode::Decode(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DecodeTest,
    ::testing::Values(SDecodeCase{"bad_and_short_groups_kept", QStringLiteral("%41%zz%4"), QStringLiteral("A%zz%4")},
                      SDecodeCase{"either_case_hex", QStringLiteral("%4a%4A"), QStringLiteral("JJ")},
                      SDecodeCase{"gbk_groups", QStringLiteral("%D6%D0%CE%C4"), QStringLiteral("中文")},
                      SDecodeCase{"percent_last", QStringLiteral("abc%"), QStringLiteral("abc%")},
                      SDecodeCase{"percent_before_last", QStringLiteral("abc%4"), QStringLiteral("abc%4")},
                      SDecodeCase{"plus_kept", QStringLiteral("a+b"), QStringLiteral("a+b")},
                      SDecodeCase{"text_kept", QStringLiteral("中%20文"), QStringLiteral("中 文")},
                      SDecodeCase{"double_percent", QStringLiteral("%%41"), QStringLiteral("%A")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToQueryValueLimitTest, CutsAtAWholeCharacterWithin99Bytes)
{
    // 50 GBK characters are 100 bytes: the 50th does not fit.
    const QString fifty = QString(50, QChar(0x4E2D));
    const QString encoded = ToQueryValue(fifty);
    EXPECT_EQ(encoded, QStringLiteral("%D6%D0").repeated(49));

    // 98 ASCII bytes leave one byte: not enough for a two-byte character.
    const QString ascii98 = QString(98, QLatin1Char('a'));
    EXPECT_EQ(ToQueryValue(ascii98 + QStringLiteral("中")), ascii98);
    EXPECT_EQ(ToQueryValue(ascii98 + QStringLiteral("bc")), ascii98 + QStringLiteral("b"));

    // Whatever the value, the decoded bytes never exceed 99 and always decode whole.
    const QString mixed = QStringLiteral("a中b文").repeated(40);
    const QByteArray bytes = CURLEncode::DecodeBytes(ToQueryValue(mixed).toLatin1());
    EXPECT_LE(bytes.size(), 99);
    EXPECT_GE(bytes.size(), 97);
    EXPECT_TRUE(mixed.startsWith(AnsiToUnicode(bytes)));
}

} // namespace
