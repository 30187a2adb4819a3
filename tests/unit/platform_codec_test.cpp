#include "support/TestMain.h"

#include "platform/Endpoints.h"
#include "platform/TextCodec.h"

#include <QSettings>
#include <QTemporaryDir>

TEST(TextCodec, ChineseRoundTripsThroughGbk)
{
    const QString text = QStringLiteral("店铺主号:张三 abc");
    const QByteArray gbk = UnicodeToAnsi(text);
    // Six Chinese characters of two bytes each, five ASCII bytes; 店 is B5 EA.
    EXPECT_EQ(gbk.size(), 6 * 2 + 5);
    EXPECT_EQ(gbk.left(2), QByteArray("\xB5\xEA"));
    EXPECT_EQ(AnsiToUnicode(gbk), text);
    EXPECT_EQ(OemToUnicode(UnicodeToOem(text)), text);
}

TEST(TextCodec, DecodingStopsAtZeroAndSurvivesBrokenBytes)
{
    EXPECT_EQ(AnsiToUnicode(QByteArray("ab\0cd", 5)), QStringLiteral("ab"));
    // A dangling lead byte and an invalid pair are dropped, the rest kept.
    EXPECT_EQ(AnsiToUnicode(QByteArray("x\xB5")), QStringLiteral("x"));
    EXPECT_EQ(AnsiToUnicode(QByteArray("\xFF\xFFok")).right(2), QStringLiteral("ok"));
    EXPECT_TRUE(AnsiToUnicode(QByteArray()).isEmpty());
}

TEST(TextCodec, UnencodableCharactersAreDroppedAndCutsKeepWholeCharacters)
{
    // An emoji has no GBK form.
    EXPECT_EQ(UnicodeToOem(QStringLiteral("a\U0001F600b")), QByteArray("ab"));
    // Three Chinese characters are six bytes: a limit of 5 keeps two whole ones.
    EXPECT_EQ(UnicodeToOemLimited(QStringLiteral("张三丰"), 5), UnicodeToOem(QStringLiteral("张三")));
    EXPECT_EQ(UnicodeToOemLimited(QStringLiteral("abc"), 99), QByteArray("abc"));
}

TEST(Endpoints, MissingFileIsWrittenWithDefaultsAndStoredValuesWin)
{
    QTemporaryDir dir;
    const CEndpoints first = LoadEndpoints(dir.path());
    EXPECT_EQ(first.trackingBase, QStringLiteral("http://127.0.0.1:8780"));
    EXPECT_EQ(first.imMessagePage, QStringLiteral("http://127.0.0.1:8781/msg"));
    {
        QSettings ini(dir.path() + "/mirelhelper.ini", QSettings::IniFormat);
        EXPECT_EQ(ini.value("endpoints/im_presence_base").toString(), QStringLiteral("http://127.0.0.1:8781"));
        EXPECT_EQ(ini.value("sound/device").toString(), QStringLiteral("default"));
        ini.setValue("endpoints/tracking_base", "http://example.invalid:9000/");
    }
    const CEndpoints second = LoadEndpoints(dir.path());
    EXPECT_EQ(second.trackingBase, QStringLiteral("http://example.invalid:9000"));
    EXPECT_EQ(Endpoints().trackingBase, second.trackingBase);
}
