#include "support/TestMain.h"

#include "iploc/QQwry.h"
#include "iploc_file_builder.h"

#include <QTemporaryDir>

#include <string>

namespace {

const QString kNotFound = QStringLiteral("没有查到相关信息");

// Test names from the address text: "1.2.3.4" -> "ip_1_2_3_4".
template <typename Case> std::string NameOf(const ::testing::TestParamInfo<Case>& info)
{
    std::string name = "ip_" + std::string(info.param.ip);
    for (char& c : name)
        c = c == '.' ? '_' : c;
    return name;
}

// ---------------------------------------------------------------- the real file

struct RealCase
{
    const char* ip;
    int layout;
    const char* expected;
};

// Checked against an independent reader of the format written for this
// purpose (Python, outside the tree), over every record of the file.
const RealCase kRealCases[] = {
    {"8.8.8.8", 7, "美国加利福尼亚州圣克拉拉县山景市 谷歌公司DNS服务器"},
    {"114.114.114.114", 3, "江苏省南京市 南京信风网络科技有限公司GreatbitDNS服务器"},
    {"223.5.5.5", 3, "浙江省杭州市 阿里巴巴anycast公共DNS"},
    {"1.1.1.1", 3, "澳大利亚 APNIC/CloudFlare公共DNS服务器"},
    {"123.125.81.6", 3, "北京市 联通/上海聚流软件科技有限公司公共DNS服务器联通节点"},
    {"192.168.1.1", 7, "局域网 对方和您在同一内部网"},
    {"127.0.0.1", 2, "本机地址  CZ88.NET"},
    {"202.106.0.20", 4, "北京市 联通/DNS服务器"},
    {"119.29.29.29", 8, "北京市 腾讯云"},
    {"202.96.128.86", 7, "广东省广州市 电信/DNS服务器"},
    {"1.0.0.2", 5, "美国 亚太互联网络信息中心(CloudFlare节点)"},
    {"1.0.32.0", 6, "广东省 电信"},
    // First and last ranges of the file.
    {"0.0.0.0", 1, "IANA 保留地址"},
    {"0.255.255.255", 1, "IANA 保留地址"},
    {"255.255.255.255", 1, "纯真网络 2024年01月17日IP数据"},
    // Short address text and an octet over 255.
    {"10.1.2", 1, "局域网 IP"},
    {"1.300.0.1", 4, "澳大利亚  CZ88.NET"},
    // Areas longer than 51 bytes keep their first 51; a cut through a
    // two-byte character drops its lead byte.
    {"1.179.249.7", 1, "泰国曼谷 Google缓存服务器(泰国电信公共有限公司-泰国电讯公司T"},
    {"23.238.0.0", 3, "美国 俄克拉何马州欧塞奇、罗杰斯、塔尔萨与瓦戈纳县塔尔萨"},
};

class RealFileTest : public ::testing::TestWithParam<RealCase>
{
protected:
    static void SetUpTestSuite()
    {
        s_reader = new SEU_QQwry;
        s_opened = s_reader->Open(QStringLiteral(MIREL_QQWRY_FILE));
    }
    static void TearDownTestSuite()
    {
        delete s_reader;
        s_reader = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_opened) << "missing " MIREL_QQWRY_FILE " (scripts/bootstrap fetches it)"; }

    static SEU_QQwry* s_reader;
    static bool s_opened;
};
SEU_QQwry* RealFileTest::s_reader = nullptr;
bool RealFileTest::s_opened = false;

TEST_P(RealFileTest, AddressGivesItsRegion)
{
    const RealCase& c = GetParam();
    EXPECT_EQ(s_reader->Lookup(QString::fromLatin1(c.ip)), QString::fromUtf8(c.expected));
    const int i = s_reader->FindRecord(SEU_QQwry::ParseIp(QString::fromLatin1(c.ip)));
    ASSERT_GE(i, 0);
    EXPECT_NE(s_reader->DescribeRecord(i), 0u);
    EXPECT_EQ(s_reader->Layout(), c.layout);
}

INSTANTIATE_TEST_SUITE_P(KnownAddresses, RealFileTest, ::testing::ValuesIn(kRealCases), NameOf<RealCase>);

TEST_F(RealFileTest, IndexEndsAreTheFirstAndLastRanges)
{
    // 547,698 records: (last - first) / 7 + 1 from the header.
    EXPECT_EQ(s_reader->RecordCount(), 547698);
    EXPECT_EQ(s_reader->FindRecord(0), 0);
    EXPECT_EQ(s_reader->ReadStartIp(0), 0u);
    EXPECT_EQ(s_reader->LastEndIp(), Ip(0, 255, 255, 255));
    const int last = s_reader->RecordCount() - 1;
    EXPECT_EQ(s_reader->FindRecord(0xFFFFFFFFu), last);
    EXPECT_EQ(s_reader->ReadStartIp(last), Ip(255, 255, 255, 0));
    EXPECT_EQ(s_reader->LastEndIp(), 0xFFFFFFFFu);
    EXPECT_EQ(s_reader->ReadStartIp(last + 1), 0xFFFFFFFFu);
    EXPECT_EQ(s_reader->ReadStartIp(-1), 0xFFFFFFFFu);
}

TEST_F(RealFileTest, EmptyTextAsksForAnAddress)
{
    EXPECT_EQ(s_reader->Lookup(QString()), QStringLiteral("请输入IP地址"));
    EXPECT_EQ(s_reader->Lookup(QStringLiteral("")), QStringLiteral("请输入IP地址"));
}

TEST(RealFile, MissingFileAnswersNotFound)
{
    SEU_QQwry reader;
    EXPECT_EQ(reader.Lookup(QStringLiteral("8.8.8.8")), kNotFound);
    EXPECT_FALSE(reader.Open(QStringLiteral("/nonexistent/QQWry.Dat")));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.RecordCount(), 0);
    EXPECT_EQ(reader.Lookup(QStringLiteral("8.8.8.8")), kNotFound);
    EXPECT_EQ(reader.Lookup(QString()), QStringLiteral("请输入IP地址"));
    EXPECT_EQ(reader.ReadStartIp(0), 0xFFFFFFFFu);
    EXPECT_EQ(reader.DescribeRecord(0), 0u);
    EXPECT_EQ(reader.ReadStringAt(0), QString());
    // A directory opens on Linux but is no data file.
    QTemporaryDir dir;
    EXPECT_FALSE(reader.Open(dir.path()));
}

// ---------------------------------------------------------------- address text

struct ParseCase
{
    const char* text;
    uint32_t ip;
};

const ParseCase kParseCases[] = {
    {"8.8.8.8", Ip(8, 8, 8, 8)},
    {"10.1.2", Ip(10, 1, 2, 0)},
    {"1.300.0.1", Ip(1, 44, 0, 1)},
    {"256.0.0.1", Ip(0, 0, 0, 1)},
    {"255.255.255.255", 0xFFFFFFFFu},
    {" 8. +8.\t8.8", Ip(8, 8, 8, 8)},
    {"-1.0.0.0", Ip(255, 0, 0, 0)},
    {"1.2.3.4.5.6", Ip(1, 2, 3, 4)},
    {"1..3.4", Ip(1, 0, 3, 4)},
    {"12abc.5x.7", Ip(12, 5, 7, 0)},
    {"abc", 0},
    {"", 0},
    {".", 0},
    // Overflow saturates as atoi does: INT_MAX keeps 255, INT_MIN keeps 0.
    {"99999999999.1.1.1", Ip(255, 1, 1, 1)},
    {"-99999999999.1.1.1", Ip(0, 1, 1, 1)},
    {"192.168.001.010", Ip(192, 168, 1, 10)},
};

class ParseIpTest : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(ParseIpTest, TextBecomesAddress)
{
    EXPECT_EQ(SEU_QQwry::ParseIp(QString::fromLatin1(GetParam().text)), GetParam().ip) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseIpTest, ::testing::ValuesIn(kParseCases));

// ---------------------------------------------------------------- layouts on a built file

struct LayoutCase
{
    const char* ip;
    int layout;
    QString expected;
};

// One range per layout (1.x ... 8.x, 9.x for layout 0) and the edge cases;
// trailerOffset is where the bytes after the index will start.
QByteArray BuildLayoutFile(uint32_t trailerOffset, uint32_t* lastIndexOffset)
{
    CQQwryFileBuilder b;
    using B = CQQwryFileBuilder;
    const uint32_t area2 = b.String(QStringLiteral("联通"));
    const uint32_t country3 = b.String(QStringLiteral("北京市"));
    const uint32_t country4 = b.String(QStringLiteral("上海市"));
    const uint32_t area4 = b.String(QStringLiteral("教育网"));
    const uint32_t x5 = b.Bytes(B::Gbk(QStringLiteral("浙江省")) + B::Gbk(QStringLiteral("阿里云")));
    const uint32_t area6 = b.String(QStringLiteral("铁通"));
    const uint32_t x6 = b.Bytes(B::Gbk(QStringLiteral("江苏省")) + B::Redirect(2, area6));
    const uint32_t country7 = b.String(QStringLiteral("四川省"));
    const uint32_t x7 = b.Bytes(B::Redirect(2, country7) + B::Gbk(QStringLiteral("长城宽带")));
    const uint32_t country8 = b.String(QStringLiteral("湖北省"));
    const uint32_t area8 = b.String(QStringLiteral("鹏博士"));
    const uint32_t x8 = b.Bytes(B::Redirect(2, country8) + B::Redirect(2, area8));
    const uint32_t x0 = b.Bytes(QByteArray(60, 'Z') + '\0' + B::Gbk(QStringLiteral("无")));
    const uint32_t long60 = b.RawString(QByteArray(60, 'B'));
    const uint32_t germany = b.String(QStringLiteral("德国"));

    b.Range(Ip(1, 0, 0, 0), Ip(1, 0, 0, 255), B::Gbk(QStringLiteral("中国")) + B::Gbk(QStringLiteral("电信")));
    b.Range(Ip(2, 0, 0, 0), Ip(2, 0, 0, 255), B::Gbk(QStringLiteral("广东省")) + B::Redirect(2, area2));
    b.Range(Ip(3, 0, 0, 0), Ip(3, 0, 0, 255), B::Redirect(2, country3) + B::Gbk(QStringLiteral("移动")));
    b.Range(Ip(4, 0, 0, 0), Ip(4, 0, 0, 255), B::Redirect(2, country4) + B::Redirect(2, area4));
    b.Range(Ip(5, 0, 0, 0), Ip(5, 0, 0, 255), B::Redirect(1, x5));
    b.Range(Ip(6, 0, 0, 0), Ip(6, 0, 0, 255), B::Redirect(1, x6));
    b.Range(Ip(7, 0, 0, 0), Ip(7, 0, 0, 255), B::Redirect(1, x7));
    b.Range(Ip(8, 0, 0, 0), Ip(8, 0, 0, 255), B::Redirect(1, x8));
    b.Range(Ip(9, 0, 0, 0), Ip(9, 0, 0, 255), B::Redirect(1, x0));
    // Empty area: the space stays.
    b.Range(Ip(10, 0, 0, 0), Ip(10, 0, 0, 255), B::Gbk(QStringLiteral("日本")) + B::Gbk(QString()));
    // 60-byte country in place, then its area right after the NUL.
    b.Range(Ip(11, 0, 0, 0), Ip(11, 0, 0, 255), QByteArray(60, 'A') + '\0' + B::Gbk(QStringLiteral("区")));
    // 60-byte area behind a redirect.
    b.Range(Ip(12, 0, 0, 0), Ip(12, 0, 0, 255), B::Redirect(2, germany) + B::Redirect(2, long60));
    // Area offset past the last index offset, although the file holds text there.
    b.Range(Ip(13, 0, 0, 0), Ip(13, 0, 0, 255), B::Redirect(2, germany) + B::Redirect(2, trailerOffset));
    // Country offset past the last index offset.
    b.Range(Ip(14, 0, 0, 0), Ip(14, 0, 0, 255), B::Redirect(2, trailerOffset) + B::Gbk(QStringLiteral("法国")));
    // An area that starts with 0x01 is text, not a redirect.
    b.Range(Ip(15, 0, 0, 0), Ip(15, 0, 0, 255),
            B::Redirect(2, germany) +
                QByteArray("\x01"
                           "ab") +
                '\0');
    // Start IP with a lower end IP, inside the index and as its last record.
    b.Range(Ip(20, 0, 0, 5), Ip(20, 0, 0, 1), B::Gbk(QStringLiteral("起点")) + B::Gbk(QStringLiteral("甲")));
    b.Range(Ip(30, 0, 0, 0), Ip(30, 0, 0, 255), B::Gbk(QStringLiteral("尾前")) + B::Gbk(QStringLiteral("乙")));
    b.Range(Ip(40, 0, 0, 9), Ip(40, 0, 0, 1), B::Gbk(QStringLiteral("末条")) + B::Gbk(QStringLiteral("丙")));
    QByteArray file = b.Finish();
    *lastIndexOffset = static_cast<uint32_t>(file.size() - 7);
    return file + CQQwryFileBuilder::Gbk(QStringLiteral("不应读到"));
}

class LayoutFileTest : public ::testing::TestWithParam<LayoutCase>
{
protected:
    static void SetUpTestSuite()
    {
        // The trailer's offset is only known once the file is laid out: lay it out twice.
        uint32_t last = 0;
        BuildLayoutFile(0, &last);
        const QByteArray file = BuildLayoutFile(last + 7, &last);
        s_dir = new QTemporaryDir;
        s_path = CQQwryFileBuilder::Write(*s_dir, QStringLiteral("layouts.dat"), file);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(m_reader.Open(s_path)); }

    static QTemporaryDir* s_dir;
    static QString s_path;
    SEU_QQwry m_reader;
};
QTemporaryDir* LayoutFileTest::s_dir = nullptr;
QString LayoutFileTest::s_path;

TEST_P(LayoutFileTest, RecordReadsByItsLayout)
{
    const LayoutCase& c = GetParam();
    EXPECT_EQ(m_reader.Lookup(QString::fromLatin1(c.ip)), c.expected);
    const int i = m_reader.FindRecord(SEU_QQwry::ParseIp(QString::fromLatin1(c.ip)));
    ASSERT_GE(i, 0);
    m_reader.DescribeRecord(i);
    EXPECT_EQ(m_reader.Layout(), c.layout);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutFileTest,
                         ::testing::Values(LayoutCase{"1.0.0.7", 1, QStringLiteral("中国 电信")},
                                           LayoutCase{"2.0.0.255", 2, QStringLiteral("广东省 联通")},
                                           LayoutCase{"3.0.0.0", 3, QStringLiteral("北京市 移动")},
                                           LayoutCase{"4.0.0.1", 4, QStringLiteral("上海市 教育网")},
                                           LayoutCase{"5.0.0.1", 5, QStringLiteral("浙江省 阿里云")},
                                           LayoutCase{"6.0.0.1", 6, QStringLiteral("江苏省 铁通")},
                                           LayoutCase{"7.0.0.1", 7, QStringLiteral("四川省 长城宽带")},
                                           LayoutCase{"8.0.0.1", 8, QStringLiteral("湖北省 鹏博士")},
                                           LayoutCase{"9.0.0.1", 0, QString()},
                                           LayoutCase{"10.0.0.1", 1, QStringLiteral("日本 ")},
                                           LayoutCase{"11.0.0.1", 1, QString(51, u'A') + QStringLiteral(" 区")},
                                           LayoutCase{"12.0.0.1", 4, QStringLiteral("德国 ") + QString(51, u'B')},
                                           LayoutCase{"13.0.0.1", 4, QStringLiteral("德国 ")},
                                           LayoutCase{"14.0.0.1", 3, QStringLiteral(" 法国")},
                                           LayoutCase{"15.0.0.1", 3, QStringLiteral("德国 \u0001ab")},
                                           LayoutCase{"20.0.0.5", 1, QStringLiteral("起点 甲")},
                                           LayoutCase{"40.0.0.9", 1, QStringLiteral("末条 丙")}),
                         NameOf<LayoutCase>);

TEST_F(LayoutFileTest, AddressesOutsideEveryRangeAreNotFound)
{
    for (const char* ip : {"0.0.0.0", "0.255.255.255", "1.0.1.0", "16.0.0.0", "20.0.0.4", "20.0.0.6", "40.0.0.8",
                           "40.0.0.10", "255.255.255.255"}) {
        EXPECT_EQ(m_reader.Lookup(QString::fromLatin1(ip)), kNotFound) << ip;
        EXPECT_EQ(m_reader.FindRecord(SEU_QQwry::ParseIp(QString::fromLatin1(ip))), -1) << ip;
    }
}

TEST_F(LayoutFileTest, StringReadsKeep51BytesAndRefuseOffsetsPastTheIndex)
{
    const int i = m_reader.FindRecord(Ip(12, 0, 0, 1));
    ASSERT_GE(i, 0);
    m_reader.DescribeRecord(i);
    EXPECT_EQ(m_reader.ReadStringAt(m_reader.OffsetB()), QString(51, u'B'));
    // After a refused offset, reading on gives nothing either.
    EXPECT_EQ(m_reader.ReadStringAt(0xFFFFFF), QString());
    EXPECT_EQ(m_reader.ReadStringHere(), QString());
}

// ---------------------------------------------------------------- one-record files

TEST(SingleRecordFile, ItsRangeMatches)
{
    CQQwryFileBuilder b;
    b.Range(Ip(1, 2, 3, 0), Ip(1, 2, 3, 255),
            CQQwryFileBuilder::Gbk(QStringLiteral("唯一")) + CQQwryFileBuilder::Gbk(QStringLiteral("记录")));
    QTemporaryDir dir;
    SEU_QQwry reader;
    ASSERT_TRUE(reader.Open(CQQwryFileBuilder::Write(dir, QStringLiteral("one.dat"), b.Finish())));
    EXPECT_EQ(reader.RecordCount(), 1);
    for (const char* ip : {"1.2.3.0", "1.2.3.4", "1.2.3.255"})
        EXPECT_EQ(reader.Lookup(QString::fromLatin1(ip)), QStringLiteral("唯一 记录")) << ip;
    for (const char* ip : {"1.2.2.255", "1.2.4.0", "0.0.0.0", "255.255.255.255"})
        EXPECT_EQ(reader.Lookup(QString::fromLatin1(ip)), kNotFound) << ip;
}

TEST(SingleRecordFile, HeaderWithNoRecordsFindsNothing)
{
    // last < first: no records.
    QByteArray bytes = CQQwryFileBuilder::U32(100) + CQQwryFileBuilder::U32(50);
    QTemporaryDir dir;
    SEU_QQwry reader;
    ASSERT_TRUE(reader.Open(CQQwryFileBuilder::Write(dir, QStringLiteral("none.dat"), bytes)));
    EXPECT_EQ(reader.RecordCount(), 0);
    EXPECT_EQ(reader.Lookup(QStringLiteral("1.2.3.4")), kNotFound);
    // Shorter than its header: no file at all.
    EXPECT_FALSE(reader.Open(CQQwryFileBuilder::Write(dir, QStringLiteral("short.dat"), bytes.left(7))));
    EXPECT_EQ(reader.Lookup(QStringLiteral("1.2.3.4")), kNotFound);
}

} // namespace
