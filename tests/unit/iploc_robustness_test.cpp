#include "support/TestMain.h"

#include "iploc/QQwry.h"
#include "iploc_file_builder.h"

#include <QFile>
#include <QTemporaryDir>

#include <random>
#include <thread>
#include <vector>

namespace {

const QString kNotFound = QStringLiteral("没有查到相关信息");

// Every layout once, index at the end as in the real file.
QByteArray SmallFile()
{
    using B = CQQwryFileBuilder;
    B b;
    const uint32_t area = b.String(QStringLiteral("联通"));
    const uint32_t country = b.String(QStringLiteral("北京市"));
    const uint32_t x5 = b.Bytes(B::Gbk(QStringLiteral("浙江省")) + B::Gbk(QStringLiteral("阿里云")));
    const uint32_t x6 = b.Bytes(B::Gbk(QStringLiteral("江苏省")) + B::Redirect(2, area));
    const uint32_t x7 = b.Bytes(B::Redirect(2, country) + B::Gbk(QStringLiteral("长城宽带")));
    const uint32_t x8 = b.Bytes(B::Redirect(2, country) + B::Redirect(2, area));
    b.Range(Ip(1, 0, 0, 0), Ip(1, 255, 255, 255), B::Gbk(QStringLiteral("中国")) + B::Gbk(QStringLiteral("电信")));
    b.Range(Ip(2, 0, 0, 0), Ip(2, 255, 255, 255), B::Gbk(QStringLiteral("广东省")) + B::Redirect(2, area));
    b.Range(Ip(3, 0, 0, 0), Ip(3, 255, 255, 255), B::Redirect(2, country) + B::Gbk(QStringLiteral("移动")));
    b.Range(Ip(4, 0, 0, 0), Ip(4, 255, 255, 255), B::Redirect(2, country) + B::Redirect(2, area));
    b.Range(Ip(5, 0, 0, 0), Ip(5, 255, 255, 255), B::Redirect(1, x5));
    b.Range(Ip(6, 0, 0, 0), Ip(6, 255, 255, 255), B::Redirect(1, x6));
    b.Range(Ip(7, 0, 0, 0), Ip(7, 255, 255, 255), B::Redirect(1, x7));
    b.Range(Ip(8, 0, 0, 0), Ip(8, 255, 255, 255), B::Redirect(1, x8));
    return b.Finish();
}

QStringList ProbeAddresses()
{
    QStringList ips;
    for (int a = 0; a <= 9; ++a)
        ips << QStringLiteral("%1.0.0.0").arg(a) << QStringLiteral("%1.128.7.1").arg(a)
            << QStringLiteral("%1.255.255.255").arg(a);
    ips << QStringLiteral("255.255.255.255");
    return ips;
}

// A file cut anywhere answers each address as the whole file does or "not found".
TEST(TruncatedFile, EveryCutAnswersRightOrNotFound)
{
    const QByteArray whole = SmallFile();
    QTemporaryDir dir;
    SEU_QQwry full;
    ASSERT_TRUE(full.Open(CQQwryFileBuilder::Write(dir, QStringLiteral("whole.dat"), whole)));
    const QStringList ips = ProbeAddresses();
    QStringList expected;
    for (const QString& ip : ips)
        expected << full.Lookup(ip);
    ASSERT_EQ(expected[ips.indexOf(QStringLiteral("8.128.7.1"))], QStringLiteral("北京市 联通"));

    const uint32_t firstIndex = static_cast<uint32_t>(whole.size() - 8 * 7);
    int answered = 0;
    for (qsizetype cut = 0; cut < whole.size(); ++cut) {
        SEU_QQwry reader;
        const bool opened = reader.Open(CQQwryFileBuilder::Write(dir, QStringLiteral("cut.dat"), whole.left(cut)));
        EXPECT_EQ(opened, cut >= 8) << cut;
        for (int k = 0; k < ips.size(); ++k) {
            const QString got = reader.Lookup(ips[k]);
            if (got != kNotFound) {
                EXPECT_EQ(got, expected[k]) << "cut " << cut << " ip " << ips[k].toStdString();
                ++answered;
            }
            if (cut < firstIndex + 7) {
                EXPECT_EQ(got, kNotFound) << "cut " << cut << " ip " << ips[k].toStdString();
            }
        }
    }
    // Cuts inside the index keep the ranges before the cut.
    EXPECT_GT(answered, 0);
}

TEST(TruncatedFile, RealFileCutsNeverAnswerWrong)
{
    QFile source(QStringLiteral(MIREL_QQWRY_FILE));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray whole = source.readAll();
    SEU_QQwry full;
    ASSERT_TRUE(full.Open(source.fileName()));
    const QStringList ips = {QStringLiteral("0.0.0.1"),         QStringLiteral("8.8.8.8"),
                             QStringLiteral("114.114.114.114"), QStringLiteral("202.96.128.86"),
                             QStringLiteral("223.5.5.5"),       QStringLiteral("255.255.255.255")};
    QTemporaryDir dir;
    const qsizetype firstIndex = 7574243;
    for (const qsizetype cut : {qsizetype(9), qsizetype(1000), firstIndex + 3, firstIndex + 7 * 200000 + 4,
                                whole.size() - 7 * 20000, whole.size() - 1}) {
        SEU_QQwry reader;
        ASSERT_TRUE(reader.Open(CQQwryFileBuilder::Write(dir, QStringLiteral("cut.dat"), whole.left(cut))));
        for (const QString& ip : ips) {
            const QString got = reader.Lookup(ip);
            if (got != kNotFound) {
                EXPECT_EQ(got, full.Lookup(ip)) << "cut " << cut << " ip " << ip.toStdString();
            }
        }
        // The low addresses' records come early in the index and survive a cut near its end.
        if (cut > firstIndex + 7 * 200000) {
            EXPECT_EQ(reader.Lookup(QStringLiteral("8.8.8.8")), full.Lookup(QStringLiteral("8.8.8.8")));
        }
    }
}

// Random files, some with a header that points into them so the search runs:
// every answer is short, repeatable and one of the possible kinds.
TEST(RandomFile, ManySeedsNeverMisbehave)
{
    QTemporaryDir dir;
    int found = 0;
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        std::mt19937 rng(seed);
        QByteArray bytes(static_cast<qsizetype>(rng() % 2048), '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng() % 4 == 0 ? rng() % 4 : rng());
        if (seed % 2 == 0 && bytes.size() >= 64) {
            const uint32_t first = rng() % uint32_t(bytes.size());
            const uint32_t last = first + 7 * (rng() % 40);
            bytes.replace(0, 4, CQQwryFileBuilder::U32(first));
            bytes.replace(4, 4, CQQwryFileBuilder::U32(last));
        }
        SEU_QQwry reader;
        const bool opened = reader.Open(CQQwryFileBuilder::Write(dir, QStringLiteral("random.dat"), bytes));
        ASSERT_EQ(opened, bytes.size() >= 8) << seed;
        for (int k = 0; k < 20; ++k) {
            const QString ip =
                QStringLiteral("%1.%2.%3.%4").arg(rng() % 256).arg(rng() % 256).arg(rng() % 256).arg(rng() % 256);
            const QString got = reader.Lookup(ip);
            // Two halves of at most 51 bytes each, one space.
            EXPECT_LE(got.size(), 2 * SEU_QQwry::kMaxStringBytes + 1) << seed;
            EXPECT_EQ(reader.Lookup(ip), got) << seed;
            if (got != kNotFound)
                ++found;
        }
    }
    // Some lookups got as far as reading a record.
    EXPECT_GT(found, 0);
}

// Lookups from several threads give exactly what the same lookups give one by one.
TEST(Concurrency, ThreadsGetTheSerialAnswers)
{
    SEU_QQwry reader;
    ASSERT_TRUE(reader.Open(QStringLiteral(MIREL_QQWRY_FILE)));
    std::mt19937 rng(7);
    QStringList ips;
    for (int k = 0; k < 2000; ++k)
        ips << QStringLiteral("%1.%2.%3.%4").arg(rng() % 256).arg(rng() % 256).arg(rng() % 256).arg(rng() % 256);
    QStringList serial;
    for (const QString& ip : ips)
        serial << reader.Lookup(ip);

    constexpr int kThreads = 4;
    std::vector<QStringList> answers(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const QStringList& all = ips;
            // Each thread walks the list from its own starting point.
            for (int k = 0; k < all.size(); ++k)
                answers[t] << reader.Lookup(all[(k + t * 500) % all.size()]);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(answers[t].size(), ips.size());
        int wrong = 0;
        for (int k = 0; k < ips.size(); ++k)
            wrong += answers[t][k] != serial[(k + t * 500) % ips.size()];
        EXPECT_EQ(wrong, 0) << "thread " << t;
    }
}

} // namespace
