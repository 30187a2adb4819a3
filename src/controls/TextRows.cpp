#include "controls/TextRows.h"

#include <QHash>

#include <algorithm>
#include <cstring>

namespace {

// A reference is a chunk number (high bits) and an offset into it; a value
// longer than a chunk gets a chunk of its own.
constexpr int kOffsetBits = 20;
constexpr uint32_t kChunkSize = 1u << kOffsetBits;
constexpr uint32_t kEmpty = 0xFFFFFFFFu;
constexpr uint32_t kRecentSlots = 1024;

// Each stored value: its length as a little-endian base-128 number, then its bytes.
size_t LengthPrefix(uint32_t length, unsigned char* out)
{
    size_t n = 0;
    do {
        unsigned char byte = length & 0x7F;
        length >>= 7;
        if (length)
            byte |= 0x80;
        out[n++] = byte;
    } while (length);
    return n;
}

} // namespace

CTextRows::CTextRows(int columns)
    : m_columns(columns > 0 ? columns : 0), m_recent(size_t(m_columns) * kRecentSlots, kEmpty)
{
}

void CTextRows::AppendRow(const QStringList& texts)
{
    std::vector<QByteArray> bytes(static_cast<size_t>(m_columns));
    std::vector<std::string_view> cells(static_cast<size_t>(m_columns));
    for (int c = 0; c < m_columns; ++c) {
        if (c < texts.size())
            bytes[size_t(c)] = texts[c].toUtf8();
        cells[size_t(c)] = std::string_view(bytes[size_t(c)].constData(), size_t(bytes[size_t(c)].size()));
    }
    AppendRowUtf8(cells.data());
}

void CTextRows::AppendRowUtf8(const std::string_view* cells)
{
    for (int c = 0; c < m_columns; ++c)
        m_cells.push_back(Store(c, cells[c]));
}

void CTextRows::SetText(qsizetype row, int column, const QString& text)
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= m_columns)
        return;
    const QByteArray bytes = text.toUtf8();
    m_cells[size_t(row) * size_t(m_columns) + size_t(column)] =
        Store(column, std::string_view(bytes.constData(), size_t(bytes.size())));
}

std::shared_ptr<CTextRows> CTextRows::Clone() const
{
    auto copy = std::make_shared<CTextRows>(m_columns);
    std::vector<std::string_view> cells(static_cast<size_t>(m_columns));
    for (qsizetype row = 0; row < RowCount(); ++row) {
        for (int c = 0; c < m_columns; ++c)
            cells[size_t(c)] = Utf8(row, c);
        copy->AppendRowUtf8(cells.data());
    }
    return copy;
}

uint32_t CTextRows::Store(int column, std::string_view bytes)
{
    if (bytes.empty())
        return kEmpty;
    const uint32_t slot = uint32_t(qHash(QByteArrayView(bytes.data(), qsizetype(bytes.size()))) % kRecentSlots);
    uint32_t& recent = m_recent[size_t(column) * kRecentSlots + slot];
    if (recent != kEmpty && Utf8View(recent) == bytes)
        return recent;

    unsigned char prefix[5];
    const size_t prefixSize = LengthPrefix(uint32_t(bytes.size()), prefix);
    const size_t need = prefixSize + bytes.size();
    uint32_t ref;
    if (need > kChunkSize) {
        m_chunks.push_back(std::make_unique<char[]>(need));
        std::memcpy(m_chunks.back().get(), prefix, prefixSize);
        std::memcpy(m_chunks.back().get() + prefixSize, bytes.data(), bytes.size());
        ref = uint32_t(m_chunks.size() - 1) << kOffsetBits;
        // The next value starts a fresh chunk.
        m_used = m_capacity;
    } else {
        if (m_chunks.empty() || m_used + need > m_capacity) {
            // Small lists (the visitor list's 30 rows) stay small; long ones get full chunks.
            m_capacity = std::min(kChunkSize, std::max<uint32_t>({4096u, uint32_t(need), m_capacity * 2}));
            m_chunks.push_back(std::make_unique<char[]>(m_capacity));
            m_used = 0;
        }
        char* at = m_chunks.back().get() + m_used;
        std::memcpy(at, prefix, prefixSize);
        std::memcpy(at + prefixSize, bytes.data(), bytes.size());
        ref = (uint32_t(m_chunks.size() - 1) << kOffsetBits) | m_used;
        m_used += uint32_t(need);
    }
    recent = ref;
    return ref;
}

std::string_view CTextRows::Utf8View(uint32_t ref) const
{
    if (ref == kEmpty)
        return {};
    const auto* at =
        reinterpret_cast<const unsigned char*>(m_chunks[ref >> kOffsetBits].get() + (ref & (kChunkSize - 1)));
    uint32_t length = 0;
    int shift = 0;
    while (*at & 0x80) {
        length |= uint32_t(*at++ & 0x7F) << shift;
        shift += 7;
    }
    length |= uint32_t(*at++) << shift;
    return std::string_view(reinterpret_cast<const char*>(at), length);
}

std::string_view CTextRows::Utf8(qsizetype row, int column) const
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= m_columns)
        return {};
    return Utf8View(m_cells[size_t(row) * size_t(m_columns) + size_t(column)]);
}

QString CTextRows::Text(qsizetype row, int column) const
{
    const std::string_view bytes = Utf8(row, column);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

void CListRows::Append(Block block)
{
    if (!block || block->RowCount() == 0)
        return;
    const qsizetype start = StoredCount();
    const qsizetype count = block->RowCount();
    m_blocks.push_back(std::move(block));
    m_starts.push_back(start + count);
    m_order.reserve(size_t(start + count));
    for (qsizetype i = 0; i < count; ++i)
        m_order.push_back(uint32_t(start + i));
}

void CListRows::GrowLast()
{
    if (m_starts.empty())
        return;
    m_order.push_back(uint32_t(m_starts.back()));
    ++m_starts.back();
}

void CListRows::Clear()
{
    m_blocks.clear();
    m_starts.clear();
    std::vector<uint32_t>().swap(m_order);
}

std::pair<const CTextRows*, qsizetype> CListRows::Locate(uint32_t stored) const
{
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(), qsizetype(stored));
    if (it == m_starts.end())
        return {nullptr, 0};
    const size_t block = size_t(it - m_starts.begin());
    const qsizetype first = block == 0 ? 0 : m_starts[block - 1];
    return {m_blocks[block].get(), qsizetype(stored) - first};
}

std::string_view CListRows::StoredUtf8(uint32_t stored, int column) const
{
    const auto [block, local] = Locate(stored);
    return block ? block->Utf8(local, column) : std::string_view();
}

std::string_view CListRows::Utf8(qsizetype row, int column) const
{
    if (row < 0 || row >= RowCount())
        return {};
    return StoredUtf8(m_order[size_t(row)], column);
}

QString CListRows::Text(qsizetype row, int column) const
{
    const std::string_view bytes = Utf8(row, column);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}
