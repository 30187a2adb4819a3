#include "support/TestMain.h"

#include "iploc/IpdbReader.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <random>

namespace {

const QString kNotFound = QStringLiteral("没有查到相关信息");

const CIpdbReader& Real()
{
    static CIpdbReader reader;
    static const bool opened = reader.Open(QStringLiteral(MIREL_IPDB_FILE));
    (void)opened;
    return reader;
}

QByteArray RealBytes()
{
    QFile file(QStringLiteral(MIREL_IPDB_FILE));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Be32(uint32_t v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

// A file of the real file's trie and records under another header.
QByteArray WithMeta(const QByteArray& real, const std::function<void(QJsonObject&)>& change)
{
    const uint32_t metaSize =
        uint32_t(uchar(real[0])) << 24 | uchar(real[1]) << 16 | uchar(real[2]) << 8 | uchar(real[3]);
    QJsonObject meta = QJsonDocument::fromJson(real.mid(4, metaSize)).object();
    change(meta);
    const QByteArray json = QJsonDocument(meta).toJson(QJsonDocument::Compact);
    return Be32(uint32_t(json.size())) + json + real.mid(4 + metaSize);
}

struct CRenderCase
{
    const char* ip;
    const char* expected;
};

const CRenderCase kRenderCases[] = {
    {"61.135.1.2", "北京 联通互联网数据中心"},
    {"240e:3b7:3272:d8d0::1", "四川 中国电信"},
    {"2408:8207::1", "北京 中国联通"},
    {"8.8.8.8", "美国加利福尼亚州圣克拉拉山景城 谷歌公司DNS服务器"},
    {"1.1.1.1", "澳大利亚 APNIC"},
    // The IPv4 part of the trie is also reached through the mapped IPv6 form.
    {"::ffff:61.135.1.2", "北京 联通互联网数据中心"},
    {" [2408:8207::1] ", "北京 中国联通"},
    // A record whose parts are all empty, and texts that are no address.
    {"0.0.0.0", "没有查到相关信息"},
    {"61.135.1", "没有查到相关信息"},
    {"2408:8207::1::2", "没有查到相关信息"},
    {"北京", "没有查到相关信息"},
    {"", "请输入IP地址"},
};

class IpdbRenderTest : public ::testing::TestWithParam<CRenderCase>
{
};

TEST_P(IpdbRenderTest, AddressGivesItsRegion)
{
    ASSERT_TRUE(Real().IsOpen()) << "missing " MIREL_IPDB_FILE " (scripts/bootstrap fetches it)";
    EXPECT_EQ(Real().Lookup(QString::fromUtf8(GetParam().ip)), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Examples, IpdbRenderTest, ::testing::ValuesIn(kRenderCases));

// Our fields for a few thousand addresses against the ipip-ipdb package's
// reading of the same file (installed by scripts/bootstrap into the cache).
TEST(IpdbReader, FieldsMatchAnIndependentReader)
{
    ASSERT_TRUE(Real().IsOpen());
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME", QDir::homePath() + QStringLiteral("/.cache"));
    const QString modules =
        qEnvironmentVariable("MIREL_NODE_MODULES", cache + QStringLiteral("/mirelhelper/node/node_modules"));
    if (!QFile::exists(modules + QStringLiteral("/ipip-ipdb/package.json")))
        GTEST_SKIP() << "no ipip-ipdb in " << modules.toStdString() << " (scripts/bootstrap installs it)";

    std::mt19937 rng(19);
    QStringList ips{QStringLiteral("1.0.0.0"), QStringLiteral("255.255.255.255"), QStringLiteral("::"),
                    QStringLiteral("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), QStringLiteral("::1")};
    for (int k = 0; k < 2000; ++k) {
        ips << QStringLiteral("%1.%2.%3.%4").arg(rng() % 256).arg(rng() % 256).arg(rng() % 256).arg(rng() % 256);
        // Half in the Chinese networks' block, half anywhere.
        QStringList groups{QString::number(k % 2 ? 0x2400 | (rng() & 0xFF) : rng() & 0xFFFF, 16)};
        for (int g = 1; g < 8; ++g)
            groups << QString::number(rng() & 0xFFFF, 16);
        ips << groups.join(QLatin1Char(':'));
    }
    QTemporaryDir dir;
    QFile list(dir.filePath(QStringLiteral("ips")));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(ips.join(QLatin1Char('\n')).toLatin1());
    list.close();

    QProcess node;
    node.start(QStringLiteral("node"), {QStringLiteral(MIREL_SOURCE_DIR "/tests/support/ipdb_node_reader.js"), modules,
                                        QStringLiteral(MIREL_IPDB_FILE), list.fileName(), QStringLiteral("dump")});
    ASSERT_TRUE(node.waitForFinished(120000)) << "node did not finish";
    ASSERT_EQ(node.exitCode(), 0) << node.readAllStandardError().toStdString();
    const QList<QByteArray> lines = node.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), ips.size());
    int withRecord = 0;
    for (qsizetype k = 0; k < ips.size(); ++k) {
        QStringList theirs;
        for (const QJsonValue& v : QJsonDocument::fromJson(lines[k]).array())
            theirs << v.toString();
        QStringList ours;
        withRecord += Real().Fields(ips[k], ours);
        ASSERT_EQ(ours, theirs) << ips[k].toStdString();
    }
    // Most random addresses have a record; a reader that finds none would pass the loop.
    EXPECT_GT(withRecord, ips.size() / 2);
}

// Every variant is refused as a whole, not read in part.
TEST(IpdbReader, TruncatedOrInconsistentFilesAreRefused)
{
    const QByteArray real = RealBytes();
    ASSERT_FALSE(real.isEmpty());
    const std::pair<const char*, QByteArray> broken[] = {
        {"empty", QByteArray()},
        {"half", real.left(real.size() / 2)},
        {"one byte short", real.left(real.size() - 1)},
        {"one byte more", real + '\0'},
        {"header past the end", Be32(uint32_t(real.size())) + real.mid(4)},
        {"header not JSON", Be32(3) + "{x}" + real.mid(7)},
        {"trie larger than the data", WithMeta(real,
                                               [&](QJsonObject& m) {
                                                   m[QStringLiteral("node_count")] =
                                                       m[QStringLiteral("total_size")].toInteger() / 8 + 1;
                                               })},
        {"no fields", WithMeta(real, [](QJsonObject& m) { m[QStringLiteral("fields")] = QJsonArray(); })},
        {"no languages", WithMeta(real, [](QJsonObject& m) { m[QStringLiteral("languages")] = QJsonObject(); })},
    };
    for (const auto& [what, bytes] : broken) {
        CIpdbReader reader;
        EXPECT_FALSE(reader.Load(bytes)) << what;
        EXPECT_FALSE(reader.Error().isEmpty()) << what;
        EXPECT_EQ(reader.Lookup(QStringLiteral("8.8.8.8")), kNotFound) << what;
    }
    CIpdbReader same;
    EXPECT_TRUE(same.Load(WithMeta(real, [](QJsonObject&) {})));
    EXPECT_EQ(same.Lookup(QStringLiteral("2408:8207::1")), QStringLiteral("北京 中国联通"));
}

// A tiny file whose leaves point outside the records: no answer, no read past the end.
TEST(IpdbReader, LeavesOutsideTheDataAnswerNotFound)
{
    // Two nodes: the root's children are node 1 (0-bit) and a leaf past the
    // data (1-bit); node 1's children are the "no record" leaf and the record
    // after a two-byte filler.
    const QByteArray fields = QStringLiteral("美国\t\t\t\t\tISP").toUtf8();
    QByteArray body = Be32(1) + Be32(2 + 4000) + Be32(2) + Be32(2 + 2);
    body += QByteArray(2, '\0') + char(fields.size() >> 8) + char(fields.size()) + fields;
    const QByteArray json =
        QStringLiteral("{\"node_count\":2,\"ip_version\":2,\"languages\":{\"CN\":0},"
                       "\"fields\":[\"country_name\",\"region_name\",\"city_name\",\"district_name\","
                       "\"owner_domain\",\"isp_domain\"],\"total_size\":%1}")
            .arg(body.size())
            .toUtf8();
    CIpdbReader reader;
    ASSERT_TRUE(reader.Load(Be32(uint32_t(json.size())) + json + body)) << reader.Error().toStdString();
    EXPECT_EQ(reader.Lookup(QStringLiteral("8000::1")), kNotFound);
    EXPECT_EQ(reader.Lookup(QStringLiteral("::1")), kNotFound);
    EXPECT_EQ(reader.Lookup(QStringLiteral("4000::1")), QStringLiteral("美国 ISP"));
    // An IPv6-only file knows no IPv4 text.
    EXPECT_EQ(reader.Lookup(QStringLiteral("64.0.0.1")), kNotFound);
}

} // namespace
