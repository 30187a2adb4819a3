#include "support/TestMain.h"

#include "platform/Endpoints.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <QFileInfo>
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

// The log keeps passwords out of addresses and holds at most its limit plus three older files.
TEST(Log, RedactsPasswordsAndRotatesAtItsLimit)
{
    EXPECT_EQ(RedactUrl(QStringLiteral("http://h/rivuzovara/SaveImName.asp?UserName=a&UserPwd=s3cret&UserImName=b")),
              QStringLiteral("http://h/rivuzovara/SaveImName.asp?UserName=a&UserPwd=***&UserImName=b"));
    EXPECT_EQ(RedactUrl(QStringLiteral("http://h/GetInfo.asp?userID=7")),
              QStringLiteral("http://h/GetInfo.asp?userID=7"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    constexpr qint64 kLimit = 10 * 1024;
    InstallLog(dir.path(), kLimit);
    const QString line(1000, QLatin1Char('x'));
    for (int i = 0; i < 60; ++i)
        qCInfo(LogStore).noquote() << line;
    UninstallLog();
    for (const char* name : {"mirelhelper.log", "mirelhelper.log.1", "mirelhelper.log.2", "mirelhelper.log.3"}) {
        const QFileInfo file(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.exists()) << name;
        EXPECT_LE(file.size(), kLimit) << name;
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("mirelhelper.log.4"))));
}
