#include "iploc/QQwry.h"

#include "platform/TextCodec.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

constexpr uint32_t kNoStartIp = 0xFFFFFFFFu;
// A string that never ends within this many bytes stops there; real strings
// are well under a hundred bytes, and a corrupt file must not make every
// lookup read megabytes.
constexpr qsizetype kMaxStringScan = 4096;
// Where ReadStringHere goes after a refused offset: nowhere, so it reads "".
constexpr uint64_t kNowhere = UINT64_MAX;

QString NotFoundText()
{
    return QStringLiteral("没有查到相关信息");
}

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// atoi on one part: blanks, an optional sign, digits up to the first other
// character; overflow saturates as the C library does.
int PartToInt(QStringView part)
{
    qsizetype i = 0;
    while (i < part.size() && IsBlank(part[i]))
        ++i;
    bool negative = false;
    if (i < part.size() && (part[i] == u'+' || part[i] == u'-')) {
        negative = part[i] == u'-';
        ++i;
    }
    int64_t value = 0;
    for (; i < part.size() && part[i] >= u'0' && part[i] <= u'9'; ++i) {
        value = value * 10 + (part[i].unicode() - u'0');
        if (value > int64_t(INT_MAX) + 1)
            value = int64_t(INT_MAX) + 1;
    }
    if (negative)
        return value > INT_MAX ? INT_MIN : -static_cast<int>(value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

SEU_QQwry::SEU_QQwry() = default;

SEU_QQwry::~SEU_QQwry()
{
    std::lock_guard lock(m_lock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_opened = false;
}

bool SEU_QQwry::Open(const QString& path)
{
    std::lock_guard lock(m_lock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_opened = false;
    m_fileSize = 0;
    m_firstIndex = m_lastIndex = 0;

    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_fileSize = static_cast<uint64_t>(info.st_size);
    m_opened = true;
    unsigned char header[8];
    if (ReadAt(0, header, 8) != 8) {
        ::close(m_fd);
        m_fd = -1;
        m_opened = false;
        m_fileSize = 0;
        return false;
    }
    m_firstIndex = header[0] | header[1] << 8 | header[2] << 16 | uint32_t(header[3]) << 24;
    m_lastIndex = header[4] | header[5] << 8 | header[6] << 16 | uint32_t(header[7]) << 24;
    return true;
}

bool SEU_QQwry::IsOpen() const
{
    std::lock_guard lock(m_lock);
    return m_opened;
}

QString SEU_QQwry::Lookup(const QString& ipText)
{
    std::lock_guard lock(m_lock);
    if (ipText.isEmpty())
        return QStringLiteral("请输入IP地址");
    const int i = FindRecord(ParseIp(ipText));
    if (i < 0 || i > RecordCount() - 1)
        return NotFoundText();
    const QString location = ReadLocationLocked(i);
    // A record whose bytes are not all in the file is no answer.
    if (!m_recordReadable)
        return NotFoundText();
    return location;
}

uint32_t SEU_QQwry::ParseIp(const QString& text)
{
    uint32_t octets[4] = {0, 0, 0, 0};
    int count = 0;
    const QString walked = text + QLatin1Char('.');
    qsizetype partStart = 0;
    for (qsizetype i = 0; i < walked.size() && count < 4; ++i) {
        if (walked[i] != u'.')
            continue;
        octets[count++] = static_cast<uint32_t>(PartToInt(QStringView(walked).mid(partStart, i - partStart))) & 0xFFu;
        partStart = i + 1;
    }
    return octets[0] << 24 | octets[1] << 16 | octets[2] << 8 | octets[3];
}

int SEU_QQwry::RecordCount() const
{
    std::lock_guard lock(m_lock);
    if (!m_opened || m_lastIndex < m_firstIndex)
        return 0;
    return static_cast<int>((m_lastIndex - m_firstIndex) / 7 + 1);
}

int SEU_QQwry::FindRecord(uint32_t ip)
{
    std::lock_guard lock(m_lock);
    const int count = RecordCount();
    if (count <= 0)
        return -1;
    if (count == 1) {
        // One range: the binary search below needs two ends, so test it directly.
        const uint32_t start = ReadStartIp(0);
        if (m_endIpValid && (ip == start || (start <= ip && ip <= m_endIp)))
            return 0;
        return -1;
    }
    int lo = 0;
    int hi = count - 1;
    int mid = hi / 2;
    while (lo < hi) {
        const uint32_t v = ReadStartIp(mid);
        // A start IP names its range even when the end IP recorded for it is lower.
        if (ip == v && m_endIpValid)
            return mid;
        if (hi - lo <= 1) {
            for (int j = lo; j <= hi; ++j) {
                const uint32_t start = ReadStartIp(j);
                if (m_endIpValid && (ip == start || (start <= ip && ip <= m_endIp)))
                    return j;
            }
            return -1;
        }
        if (ip > v)
            lo = mid;
        else
            hi = mid;
        mid = lo + (hi - lo) / 2;
    }
    return -1;
}

uint32_t SEU_QQwry::ReadStartIp(int i)
{
    std::lock_guard lock(m_lock);
    m_endIp = 0;
    m_endIpValid = false;
    if (!m_opened || i < 0 || i >= RecordCount())
        return kNoStartIp;
    unsigned char index[7];
    if (ReadAt(uint64_t(m_firstIndex) + 7 * uint64_t(i), index, 7) != 7)
        return kNoStartIp;
    unsigned char end[4];
    if (ReadAt(Offset3(index + 4), end, 4) != 4)
        return kNoStartIp;
    m_endIp = end[0] | end[1] << 8 | end[2] << 16 | uint32_t(end[3]) << 24;
    m_endIpValid = true;
    return index[0] | index[1] << 8 | index[2] << 16 | uint32_t(index[3]) << 24;
}

uint32_t SEU_QQwry::LastEndIp() const
{
    std::lock_guard lock(m_lock);
    return m_endIp;
}

uint32_t SEU_QQwry::DescribeRecord(int i)
{
    std::lock_guard lock(m_lock);
    m_layout = 0;
    m_offsetA = m_offsetB = 0;
    m_recordReadable = false;
    if (!m_opened || i < 0 || uint64_t(m_firstIndex) + 7 * uint64_t(i) > m_lastIndex)
        return 0;
    if (ReadAt(uint64_t(m_firstIndex) + 7 * uint64_t(i), m_indexRecord, 7) != 7)
        return 0;
    const uint32_t r = Offset3(m_indexRecord + 4);
    std::memset(m_recordBuffer, 0, sizeof m_recordBuffer);
    const qsizetype have = ReadAt(r, m_recordBuffer, sizeof m_recordBuffer);
    // The end IP and the first location byte at least.
    if (have < 5)
        return 0;
    const unsigned char* buf = m_recordBuffer;

    if (buf[4] == 0x01) {
        if (have < 8)
            return 0;
        const uint32_t x = Offset3(buf + 5);
        m_offsetA = x;
        // 50 bytes to look for the country's end, 4 more for a redirect right after it.
        unsigned char at[54] = {};
        const qsizetype got = ReadAt(x, at, sizeof at);
        if (got < 1)
            return 0;
        std::memcpy(m_recordBuffer + 4, at, size_t(std::min<qsizetype>(got, 50)));
        if (at[0] == 0x02) {
            if (got < 5)
                return 0;
            const uint32_t y = Offset3(at + 1);
            if (at[4] == 0x02) {
                if (got < 8)
                    return 0;
                m_offsetA = y;
                m_offsetB = Offset3(at + 5);
                m_layout = 8;
            } else {
                m_offsetB = y;
                m_layout = 7;
            }
        } else {
            const qsizetype scan = std::min<qsizetype>(got, 50);
            qsizetype k = 0;
            while (k < scan && at[k] != 0)
                ++k;
            if (k < scan) {
                // A marker byte past the end of the file is no redirect: the area is simply empty.
                if (k + 1 < got && at[k + 1] == 0x02) {
                    if (got < k + 5)
                        return 0;
                    m_offsetB = Offset3(at + k + 2);
                    m_layout = 6;
                } else {
                    m_layout = 5;
                }
            }
        }
    } else if (buf[4] == 0x02) {
        if (have < 8)
            return 0;
        m_offsetA = Offset3(buf + 5);
        if (have > 8 && buf[8] == 0x02) {
            if (have < 12)
                return 0;
            m_offsetB = Offset3(buf + 9);
            m_layout = 4;
        } else {
            m_layout = 3;
        }
    } else {
        m_layout = 1;
        const qsizetype scanEnd = std::min<qsizetype>(have, 54);
        qsizetype n = 4;
        while (n < scanEnd && buf[n] != 0)
            ++n;
        if (n < scanEnd && n + 1 < have && buf[n + 1] == 0x02) {
            if (have < n + 5)
                return 0;
            m_offsetA = Offset3(buf + n + 2);
            m_layout = 2;
        }
    }
    m_recordReadable = true;
    return r;
}

int SEU_QQwry::Layout() const
{
    std::lock_guard lock(m_lock);
    return m_layout;
}

uint32_t SEU_QQwry::OffsetA() const
{
    std::lock_guard lock(m_lock);
    return m_offsetA;
}

uint32_t SEU_QQwry::OffsetB() const
{
    std::lock_guard lock(m_lock);
    return m_offsetB;
}

bool SEU_QQwry::LastRecordReadable() const
{
    std::lock_guard lock(m_lock);
    return m_recordReadable;
}

QString SEU_QQwry::ReadLocation(int i)
{
    std::lock_guard lock(m_lock);
    return ReadLocationLocked(i);
}

QString SEU_QQwry::ReadLocationLocked(int i)
{
    const uint32_t r = DescribeRecord(i);
    if (!m_recordReadable)
        return QString();
    const uint32_t p = r + 4;
    QString country;
    QString area;
    switch (m_layout) {
    case 1:
        country = ReadStringAt(p);
        area = ReadStringHere();
        break;
    case 2:
        country = ReadStringAt(p);
        area = ReadStringAt(m_offsetA);
        break;
    case 3:
        country = ReadStringAt(m_offsetA);
        area = ReadStringAt(r + 8);
        break;
    case 5:
        country = ReadStringAt(m_offsetA);
        area = ReadStringHere();
        break;
    case 7:
        country = ReadStringAt(m_offsetB);
        area = ReadStringAt(m_offsetA + 4);
        break;
    case 4:
    case 6:
    case 8:
        country = ReadStringAt(m_offsetA);
        area = ReadStringAt(m_offsetB);
        break;
    default:
        return QString();
    }
    return country + QLatin1Char(' ') + area;
}

QString SEU_QQwry::ReadStringAt(uint32_t offset)
{
    std::lock_guard lock(m_lock);
    if (offset > m_lastIndex) {
        m_position = kNowhere;
        return QString();
    }
    m_position = offset;
    return ReadStringHere();
}

QString SEU_QQwry::ReadStringHere()
{
    std::lock_guard lock(m_lock);
    char kept[kMaxStringBytes];
    qsizetype keptSize = 0;
    qsizetype scanned = 0;
    unsigned char chunk[64];
    bool ended = false;
    while (!ended && scanned < kMaxStringScan) {
        const qsizetype got = ReadAt(m_position, chunk, sizeof chunk);
        if (got <= 0)
            break;
        qsizetype k = 0;
        for (; k < got && scanned + k < kMaxStringScan; ++k) {
            if (chunk[k] == 0) {
                ended = true;
                break;
            }
            if (keptSize < kMaxStringBytes)
                kept[keptSize++] = static_cast<char>(chunk[k]);
        }
        // Past the NUL, so the next string continues right after it.
        const qsizetype used = ended ? k + 1 : k;
        scanned += used;
        m_position += uint64_t(used);
    }
    return AnsiToUnicode(kept, keptSize);
}

qsizetype SEU_QQwry::ReadAt(uint64_t offset, unsigned char* buffer, qsizetype size) const
{
    if (!m_opened || m_fd < 0 || size <= 0 || offset >= m_fileSize)
        return 0;
    const uint64_t wanted = std::min<uint64_t>(uint64_t(size), m_fileSize - offset);
    uint64_t done = 0;
    while (done < wanted) {
        const ssize_t n = ::pread(m_fd, buffer + done, size_t(wanted - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += uint64_t(n);
    }
    return qsizetype(done);
}

uint32_t SEU_QQwry::Offset3(const unsigned char* bytes)
{
    return bytes[0] | bytes[1] << 8 | uint32_t(bytes[2]) << 16;
}
