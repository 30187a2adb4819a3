#include "iploc/IpdbReader.h"

#include "platform/Log.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVarLengthArray>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

constexpr int kMaxAddressChars = 63;
constexpr int kMaxFields = 64;
// Bits of the path to the IPv4 part of the trie: ::ffff:0:0/96.
constexpr int kV4PrefixBits = 96;
constexpr int kV4ZeroBits = 80;

uint32_t Be32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The text form of RFC 4291 (what inet_pton takes): up to eight groups of one
// to four hex digits, at most one "::", and dotted IPv4 as the last 32 bits.
// Written out because the C library's general parser was a seventh of a lookup.
bool ParseIpv6(const char* s, int n, unsigned char* out)
{
    uint16_t groups[8];
    int count = 0;
    int gap = -1;
    int i = 0;
    if (n >= 2 && s[0] == ':' && s[1] == ':') {
        gap = 0;
        i = 2;
    } else if (n >= 1 && s[0] == ':') {
        return false;
    }
    while (i < n) {
        int j = i;
        bool dotted = false;
        while (j < n && s[j] != ':') {
            dotted = dotted || s[j] == '.';
            ++j;
        }
        if (dotted) {
            char tail[16];
            if (j != n || count > 6 || j - i > 15)
                return false;
            std::memcpy(tail, s + i, size_t(j - i));
            tail[j - i] = '\0';
            unsigned char v4[4];
            if (inet_pton(AF_INET, tail, v4) != 1)
                return false;
            groups[count++] = uint16_t(v4[0] << 8 | v4[1]);
            groups[count++] = uint16_t(v4[2] << 8 | v4[3]);
            break;
        }
        if (j == i || j - i > 4 || count == 8)
            return false;
        int value = 0;
        for (int k = i; k < j; ++k) {
            const int digit = HexDigit(s[k]);
            if (digit < 0)
                return false;
            value = value << 4 | digit;
        }
        groups[count++] = uint16_t(value);
        if (j == n)
            break;
        if (j + 1 < n && s[j + 1] == ':') {
            if (gap >= 0)
                return false;
            gap = count;
            i = j + 2;
        } else {
            i = j + 1;
            if (i == n)
                return false;
        }
    }
    if (gap < 0 ? count != 8 : count > 7)
        return false;
    const int zeros = 8 - count;
    for (int g = 0, k = 0; g < 8; ++g) {
        const bool inGap = gap >= 0 && g >= gap && g < gap + zeros;
        const uint16_t value = inGap ? 0 : groups[k++];
        out[2 * g] = uint8_t(value >> 8);
        out[2 * g + 1] = uint8_t(value);
    }
    return true;
}

} // namespace

int CIpdbReader::ParseAddress(const QString& text, unsigned char* out)
{
    const char16_t* s = reinterpret_cast<const char16_t*>(text.constData());
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    if (end - begin >= 2 && s[begin] == u'[' && s[end - 1] == u']') {
        ++begin;
        --end;
    }
    char ascii[kMaxAddressChars + 1];
    int n = 0;
    bool colon = false;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = s[i];
        if (c == u'%' && colon)
            break;
        if (c >= 0x80 || n == kMaxAddressChars)
            return 0;
        colon = colon || c == u':';
        ascii[n++] = static_cast<char>(c);
    }
    ascii[n] = '\0';
    if (colon)
        return ParseIpv6(ascii, n, out) ? 16 : 0;
    return inet_pton(AF_INET, ascii, out) == 1 ? 4 : 0;
}

namespace {

QString NotFoundText()
{
    return QStringLiteral("没有查到相关信息");
}

// The tab-separated values of one language within a record.
int SplitValues(const char* data, int size, int first, int count, std::string_view* values)
{
    int index = 0;
    int found = 0;
    const char* p = data;
    const char* end = data + size;
    while (found < count) {
        const char* tab = static_cast<const char*>(std::memchr(p, '\t', end - p));
        const char* stop = tab ? tab : end;
        if (index >= first)
            values[found++] = std::string_view(p, stop - p);
        ++index;
        if (!tab)
            break;
        p = tab + 1;
    }
    return found;
}

} // namespace

bool CIpdbReader::Refuse(const QString& why)
{
    m_error = why;
    m_data.clear();
    m_body = nullptr;
    m_bodySize = 0;
    m_nodeCount = 0;
    qCWarning(LogIploc) << "ipdb data refused:" << why;
    return false;
}

bool CIpdbReader::Open(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refuse(QStringLiteral("%1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Refuse(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return Load(bytes);
}

bool CIpdbReader::Load(const QByteArray& bytes)
{
    m_error.clear();
    if (bytes.size() < 4)
        return Refuse(QStringLiteral("shorter than its header"));
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.constData());
    const uint64_t metaSize = Be32(raw);
    if (metaSize > uint64_t(bytes.size()) - 4)
        return Refuse(QStringLiteral("header of %1 bytes in a file of %2").arg(metaSize).arg(bytes.size()));
    QJsonParseError jsonError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes.mid(4, qsizetype(metaSize)), &jsonError);
    if (!doc.isObject())
        return Refuse(QStringLiteral("header is not a JSON object: %1").arg(jsonError.errorString()));
    const QJsonObject meta = doc.object();

    const uint64_t bodySize = uint64_t(bytes.size()) - 4 - metaSize;
    const qint64 nodeCount = meta.value(QLatin1String("node_count")).toInteger(-1);
    const qint64 totalSize = meta.value(QLatin1String("total_size")).toInteger(-1);
    if (totalSize < 0 || uint64_t(totalSize) != bodySize)
        return Refuse(QStringLiteral("total_size %1 but %2 bytes follow the header").arg(totalSize).arg(bodySize));
    if (nodeCount <= 0 || uint64_t(nodeCount) * 8 > bodySize)
        return Refuse(QStringLiteral("node_count %1 does not fit %2 bytes").arg(nodeCount).arg(bodySize));
    const int ipVersion = meta.value(QLatin1String("ip_version")).toInt(0);
    if ((ipVersion & 3) == 0)
        return Refuse(QStringLiteral("ip_version %1 names neither IPv4 nor IPv6").arg(ipVersion));

    QStringList names;
    for (const QJsonValue& name : meta.value(QLatin1String("fields")).toArray()) {
        if (!name.isString())
            return Refuse(QStringLiteral("a field name is not text"));
        names << name.toString();
    }
    if (names.isEmpty() || names.size() > kMaxFields)
        return Refuse(QStringLiteral("%1 fields").arg(names.size()));

    // This data has one language; take CN when there are several.
    const QJsonObject languages = meta.value(QLatin1String("languages")).toObject();
    if (languages.isEmpty())
        return Refuse(QStringLiteral("no languages"));
    const QJsonValue language =
        languages.contains(QLatin1String("CN")) ? languages.value(QLatin1String("CN")) : *languages.begin();
    const int languageOffset = language.toInt(-1);
    if (languageOffset < 0 || languageOffset > 0xFFFF)
        return Refuse(QStringLiteral("bad language offset"));

    m_data = bytes;
    m_body = reinterpret_cast<const unsigned char*>(m_data.constData()) + 4 + metaSize;
    m_bodySize = bodySize;
    m_nodeCount = uint32_t(nodeCount);
    m_ipVersion = ipVersion;
    m_languageOffset = languageOffset;
    m_fieldNames = names;
    m_country = int(names.indexOf(QLatin1String("country_name")));
    m_region = int(names.indexOf(QLatin1String("region_name")));
    m_city = int(names.indexOf(QLatin1String("city_name")));
    m_district = int(names.indexOf(QLatin1String("district_name")));
    m_owner = int(names.indexOf(QLatin1String("owner_domain")));
    m_isp = int(names.indexOf(QLatin1String("isp_domain")));
    m_buildTime = meta.value(QLatin1String("build")).toInteger(0);

    uint32_t node = 0;
    for (int i = 0; i < kV4PrefixBits && node < m_nodeCount; ++i)
        node = Child(node, i >= kV4ZeroBits ? 1 : 0);
    m_v4Start = node;
    m_v4Jump = JumpTable(m_v4Start);
    m_v6Jump = JumpTable(0);
    if (!BuildV4Ranges())
        qCWarning(LogIploc) << "ipdb IPv4 part is not a tree; lookups walk it";
    return true;
}

bool CIpdbReader::BuildV4Ranges()
{
    m_v4Starts.clear();
    m_v4Leaves.clear();
    m_v4Buckets.clear();
    m_v4Texts.clear();
    m_v4TextOf.clear();
    struct CStep
    {
        uint32_t node;
        int depth;
        uint64_t prefix;
    };
    std::vector<CStep> stack{{m_v4Start, 0, 0}};
    uint64_t inner = 0;
    while (!stack.empty()) {
        const CStep step = stack.back();
        stack.pop_back();
        if (step.node >= m_nodeCount || step.depth == 32) {
            // A walk that runs out of bits inside the trie finds nothing.
            const uint32_t leaf = step.node >= m_nodeCount ? step.node : m_nodeCount;
            if (m_v4Leaves.empty() || m_v4Leaves.back() != leaf) {
                m_v4Starts.push_back(uint32_t(step.prefix << (32 - step.depth)));
                m_v4Leaves.push_back(leaf);
            }
            continue;
        }
        // A tree has each inner node once; more visits mean shared or looping nodes.
        if (++inner > m_nodeCount) {
            m_v4Starts.clear();
            m_v4Leaves.clear();
            return false;
        }
        stack.push_back({Child(step.node, 1), step.depth + 1, step.prefix * 2 + 1});
        stack.push_back({Child(step.node, 0), step.depth + 1, step.prefix * 2});
    }
    // Each range's answer once: lookups then only copy a shared string.
    std::unordered_map<uint32_t, uint32_t> textOfLeaf;
    m_v4TextOf.reserve(m_v4Leaves.size());
    for (const uint32_t leaf : m_v4Leaves) {
        const auto [it, added] = textOfLeaf.try_emplace(leaf, uint32_t(m_v4Texts.size()));
        if (added)
            m_v4Texts.push_back(RenderLeaf(leaf));
        m_v4TextOf.push_back(it->second);
    }
    m_v4Buckets.resize(65537);
    size_t k = 0;
    for (uint32_t b = 0; b <= 65536; ++b) {
        while (k < m_v4Starts.size() && (m_v4Starts[k] >> 16) < b)
            ++k;
        m_v4Buckets[b] = uint32_t(k);
    }
    return true;
}

int CIpdbReader::V4Range(uint32_t ip) const
{
    // The range holding ip starts in its /16 or is the last one before it.
    const uint32_t b = ip >> 16;
    const uint32_t* first = m_v4Starts.data() + (m_v4Buckets[b] > 0 ? m_v4Buckets[b] - 1 : 0);
    const uint32_t* last = m_v4Starts.data() + m_v4Buckets[b + 1];
    // The first range starts at 0, so found is past it.
    return int(std::upper_bound(first, last, ip) - m_v4Starts.data() - 1);
}

inline uint32_t CIpdbReader::Child(uint32_t node, int bit) const
{
    // node < m_nodeCount and m_nodeCount * 8 <= m_bodySize, checked by the callers and Load.
    return Be32(m_body + uint64_t(node) * 8 + uint64_t(bit) * 4);
}

uint32_t CIpdbReader::Walk(uint32_t node, const unsigned char* address, int from, int to) const
{
    for (int i = from; i < to && node < m_nodeCount; ++i)
        node = Child(node, (address[i >> 3] >> (7 - (i & 7))) & 1);
    return node;
}

std::vector<uint32_t> CIpdbReader::JumpTable(uint32_t start) const
{
    // Level by level: each level's nodes are the children of the one above.
    std::vector<uint32_t> level{start};
    for (int depth = 0; depth < kJumpBits; ++depth) {
        std::vector<uint32_t> next(level.size() * 2);
        for (size_t k = 0; k < level.size(); ++k) {
            const uint32_t node = level[k];
            next[2 * k] = node < m_nodeCount ? Child(node, 0) : node;
            next[2 * k + 1] = node < m_nodeCount ? Child(node, 1) : node;
        }
        level.swap(next);
    }
    return level;
}

uint32_t CIpdbReader::FindLeaf(const QString& ipText, int* v4Range) const
{
    if (!IsOpen())
        return 0;
    unsigned char address[16];
    const int size = ParseAddress(ipText, address);
    if (size == 0 || (size == 4 && !(m_ipVersion & 1)) || (size == 16 && !(m_ipVersion & 2)))
        return 0;
    if (size == 4 && !m_v4Starts.empty()) {
        const int range =
            V4Range(uint32_t(address[0]) << 24 | uint32_t(address[1]) << 16 | uint32_t(address[2]) << 8 | address[3]);
        if (v4Range)
            *v4Range = range;
        return m_v4Leaves[range];
    }
    const std::vector<uint32_t>& jump = size == 4 ? m_v4Jump : m_v6Jump;
    return Walk(jump[(address[0] << 8) | address[1]], address, kJumpBits, size * 8);
}

bool CIpdbReader::ReadRecord(uint32_t leaf, CRecord& record) const
{
    if (leaf <= m_nodeCount)
        return false;
    const uint64_t offset = uint64_t(leaf - m_nodeCount) + uint64_t(m_nodeCount) * 8;
    if (offset + 2 > m_bodySize)
        return false;
    const int length = (m_body[offset] << 8) | m_body[offset + 1];
    if (offset + 2 + uint64_t(length) > m_bodySize)
        return false;
    record.data = reinterpret_cast<const char*>(m_body + offset + 2);
    record.size = length;
    return true;
}

bool CIpdbReader::Fields(const QString& ipText, QStringList& values) const
{
    values.clear();
    CRecord record;
    if (!ReadRecord(FindLeaf(ipText, nullptr), record))
        return false;
    std::string_view parts[kMaxFields];
    const int count = SplitValues(record.data, record.size, m_languageOffset, int(m_fieldNames.size()), parts);
    for (int i = 0; i < count; ++i)
        values << QString::fromUtf8(parts[i].data(), qsizetype(parts[i].size()));
    return true;
}

QString CIpdbReader::Lookup(const QString& ipText) const
{
    if (ipText.isEmpty())
        return QStringLiteral("请输入IP地址");
    int range = -1;
    const uint32_t leaf = FindLeaf(ipText, &range);
    if (range >= 0)
        return m_v4Texts[m_v4TextOf[range]];
    return RenderLeaf(leaf);
}

QString CIpdbReader::RenderLeaf(uint32_t leaf) const
{
    CRecord record;
    if (!ReadRecord(leaf, record))
        return NotFoundText();
    std::string_view parts[kMaxFields];
    const int count = SplitValues(record.data, record.size, m_languageOffset, int(m_fieldNames.size()), parts);
    const auto part = [&](int field) { return field >= 0 && field < count ? parts[field] : std::string_view(); };

    // Country (not when it is China), region, city, district; a part equal to
    // the one before it says nothing new.
    static constexpr std::string_view kChina("中国");
    QVarLengthArray<char, 512> text;
    std::string_view previous;
    for (const int field : {m_country, m_region, m_city, m_district}) {
        const std::string_view value = part(field);
        if (value.empty() || value == previous)
            continue;
        previous = value;
        if (field == m_country && value == kChina)
            continue;
        text.append(value.data(), qsizetype(value.size()));
    }
    std::string_view area = part(m_isp);
    if (area.empty())
        area = part(m_owner);
    if (text.isEmpty() && area.empty())
        return NotFoundText();
    text.append(' ');
    text.append(area.data(), qsizetype(area.size()));
    return QString::fromUtf8(text.constData(), text.size());
}
