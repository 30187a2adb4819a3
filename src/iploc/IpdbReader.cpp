#include "iploc/IpdbReader.h"

#include "iploc/IpAddressText.h"

#include "platform/Log.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <numeric>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

constexpr int kMaxFields = 64;
// Bits of the path to the IPv4 part of the trie: ::ffff:0:0/96.
constexpr int kV4PrefixBits = 96;
constexpr int kV4ZeroBits = 80;

uint32_t Be32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

} // namespace

int CIpdbReader::ParseAddress(const QString& text, unsigned char* out)
{
    return ParseIpAddress(text, out);
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

// Answer texts kept for the life of the process. A look-up hands out a copy
// that shares the characters without a reference count, as a literal does:
// no shared write and no read of a string header, which random look-ups
// would miss in the caches. A text is kept once for every reader and file;
// past kPooledChars (a few data files' worth) texts are ordinary strings.
class CTextPool
{
public:
    static CTextPool& Instance()
    {
        // Never destroyed: copies may live until the very end.
        static CTextPool* pool = new CTextPool;
        return *pool;
    }
    QString Keep(const QString& text)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto known = m_known.constFind(text);
        if (known != m_known.constEnd())
            return *known;
        if (m_chars + size_t(text.size()) > kPooledChars)
            return text;
        auto* chars = new QChar[size_t(text.size()) + 1];
        std::copy(text.constBegin(), text.constEnd(), chars);
        chars[text.size()] = QChar();
        m_chars += size_t(text.size()) + 1;
        const QString kept = QString::fromRawData(chars, text.size());
        m_known.insert(kept, kept);
        return kept;
    }

private:
    static constexpr size_t kPooledChars = size_t(8) << 20;
    std::mutex m_mutex;
    QHash<QString, QString> m_known;
    size_t m_chars = 0;
};

} // namespace

bool CIpdbReader::Refuse(const QString& why)
{
    m_error = why;
    m_data.clear();
    m_body = nullptr;
    m_bodySize = 0;
    m_nodeCount = 0;
    m_leafRecords.clear();
    m_leafTexts.clear();
    m_texts.clear();
    m_v4Ranges.clear();
    m_v4Table.Clear();
    qCWarning(LogIploc) << "ipdb data refused:" << why;
    return false;
}

bool CIpdbReader::Open(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refuse(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Refuse(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return Load(std::move(bytes));
}

bool CIpdbReader::Load(QByteArray bytes)
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

    m_data = std::move(bytes);
    // The trie is rewritten in place: the one copy of the file's bytes is ours.
    m_body = reinterpret_cast<unsigned char*>(m_data.data()) + 4 + metaSize;
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

    NumberLeaves();
    uint32_t node = 0;
    for (int i = 0; i < kV4PrefixBits && node < m_nodeCount; ++i)
        node = Child(node, i >= kV4ZeroBits ? 1 : 0);
    m_v4Start = node;
    m_v4Jump = JumpTable(m_v4Start);
    m_v6Jump = JumpTable(0);
    m_v4Table.Clear();
    if (BuildV4Ranges()) {
        OrderTextsByCover();
        if (!m_v4Table.Build(m_v4Ranges, m_texts))
            qCWarning(LogIploc) << "ipdb IPv4 table not built; lookups walk the trie";
        m_v4Ranges = std::vector<CIpdbV4Table::CRange>();
    } else {
        qCWarning(LogIploc) << "ipdb IPv4 part is not a tree; lookups walk it";
    }
    return true;
}

void CIpdbReader::NumberLeaves()
{
    m_leafRecords.assign(1, CRecord());
    m_leafTexts.assign(1, 0);
    m_texts.assign(1, NotFoundText());
    std::unordered_map<uint32_t, uint32_t> numberOf;
    numberOf.reserve(1 << 16);
    QHash<QString, uint32_t> textNumbers;
    unsigned char* p = m_body;
    for (uint64_t k = 0; k < uint64_t(m_nodeCount) * 2; ++k, p += 4) {
        uint32_t child = Be32(p);
        if (child >= m_nodeCount) {
            const auto [it, added] = numberOf.try_emplace(child, 0);
            CRecord record;
            if (added && ReadRecord(child, record)) {
                it->second = uint32_t(m_leafRecords.size());
                m_leafRecords.push_back(record);
                const QString text = RenderLeaf(record);
                const auto known = textNumbers.constFind(text);
                if (known != textNumbers.constEnd()) {
                    m_leafTexts.push_back(*known);
                } else {
                    m_leafTexts.push_back(uint32_t(m_texts.size()));
                    textNumbers.insert(text, uint32_t(m_texts.size()));
                    m_texts.push_back(CTextPool::Instance().Keep(text));
                }
            }
            child = m_nodeCount + it->second;
        }
        std::memcpy(p, &child, 4);
    }
}

bool CIpdbReader::BuildV4Ranges()
{
    m_v4Ranges.clear();
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
            const uint32_t text = step.node >= m_nodeCount ? TextOf(step.node - m_nodeCount) : 0;
            if (m_v4Ranges.empty() || m_v4Ranges.back().text != text)
                m_v4Ranges.push_back({uint32_t(step.prefix << (32 - step.depth)), text});
            continue;
        }
        // A tree has each inner node once; more visits mean shared or looping nodes.
        if (++inner > m_nodeCount) {
            m_v4Ranges.clear();
            return false;
        }
        stack.push_back({Child(step.node, 1), step.depth + 1, step.prefix * 2 + 1});
        stack.push_back({Child(step.node, 0), step.depth + 1, step.prefix * 2});
    }
    return true;
}

void CIpdbReader::OrderTextsByCover()
{
    // Random look-ups miss the caches; in this order the common answers
    // share cache lines.
    std::vector<uint64_t> cover(m_texts.size(), 0);
    for (size_t k = 0; k < m_v4Ranges.size(); ++k) {
        const uint64_t end = k + 1 < m_v4Ranges.size() ? m_v4Ranges[k + 1].start : uint64_t(1) << 32;
        cover[m_v4Ranges[k].text] += end - m_v4Ranges[k].start;
    }
    std::vector<uint32_t> order(m_texts.size());
    std::iota(order.begin(), order.end(), 0u);
    // Number 0 stays "没有查到相关信息".
    std::stable_sort(order.begin() + 1, order.end(), [&](uint32_t a, uint32_t b) { return cover[a] > cover[b]; });
    std::vector<uint32_t> renumbered(order.size());
    std::vector<QString> texts;
    texts.reserve(order.size());
    for (uint32_t i = 0; i < order.size(); ++i) {
        renumbered[order[i]] = i;
        texts.push_back(m_texts[order[i]]);
    }
    m_texts.swap(texts);
    for (uint32_t& text : m_leafTexts)
        text = renumbered[text];
    for (CIpdbV4Table::CRange& range : m_v4Ranges)
        range.text = renumbered[range.text];
}

inline uint32_t CIpdbReader::Child(uint32_t node, int bit) const
{
    // node < m_nodeCount and m_nodeCount * 8 <= m_bodySize, checked by the callers and Load;
    // NumberLeaves made the value native and either an inner node or a numbered leaf.
    uint32_t child;
    std::memcpy(&child, m_body + uint64_t(node) * 8 + uint64_t(bit) * 4, sizeof child);
    return child;
}

uint32_t CIpdbReader::Walk(uint32_t node, const unsigned char* address, int from, int to) const
{
    for (int i = from; i < to && node < m_nodeCount; ++i)
        node = Child(node, (address[i >> 3] >> (7 - (i & 7))) & 1);
    return node >= m_nodeCount ? node - m_nodeCount : 0;
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

uint32_t CIpdbReader::FindLeaf(const unsigned char* address, int size) const
{
    if (!IsOpen() || size == 0 || (size == 4 && !(m_ipVersion & 1)) || (size == 16 && !(m_ipVersion & 2)))
        return 0;
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
    unsigned char address[16];
    const uint32_t leaf = FindLeaf(address, ParseAddress(ipText, address));
    if (leaf == 0)
        return false;
    const CRecord& record = m_leafRecords[leaf];
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
    if (!IsOpen())
        return NotFoundText();
    unsigned char address[16];
    const int size = ParseAddress(ipText, address);
    if (size == 4 && !m_v4Table.IsEmpty() && (m_ipVersion & 1))
        return m_v4Table.Answer(Be32(address));
    return m_texts[TextOf(FindLeaf(address, size))];
}

QString CIpdbReader::RenderLeaf(const CRecord& record) const
{
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
