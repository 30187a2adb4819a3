#include "controls/TextRows.h"

#include <QHash>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

// A reference is a chunk number (high bits) and an offset into it; a record
// longer than a chunk gets a chunk of its own.
constexpr int kOffsetBits = 20;
constexpr uint32_t kChunkSize = 1u << kOffsetBits;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kRecentSlots = 1024;
constexpr size_t kLongestNumber = 5;

// A cell starts with a little-endian base-128 number: the text's length times
// two, its bytes following, or a dictionary number times two plus one.
size_t PutNumber(uint32_t value, unsigned char* out)
{
    size_t n = 0;
    do {
        unsigned char byte = value & 0x7F;
        value >>= 7;
        if (value)
            byte |= 0x80;
        out[n++] = byte;
    } while (value);
    return n;
}

uint32_t TakeNumber(const unsigned char*& at)
{
    uint32_t value = 0;
    int shift = 0;
    while (*at & 0x80) {
        value |= uint32_t(*at++ & 0x7F) << shift;
        shift += 7;
    }
    return value | (uint32_t(*at++) << shift);
}

} // namespace

CTextRows::CTextRows(int columns) : m_columns(columns > 0 ? columns : 0), m_dictionary(size_t(m_columns)) {}

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
    m_rows.push_back(WriteRecord(cells));
}

uint32_t CTextRows::WriteRecord(const std::string_view* cells)
{
    size_t need = 0;
    for (int c = 0; c < m_columns; ++c)
        need += kLongestNumber + cells[c].size();
    need = std::max<size_t>(need, 1);
    if (need > kChunkSize) {
        m_capacity = uint32_t(need);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(need));
        m_used = 0;
    } else if (m_chunks.empty() || m_used + need > m_capacity) {
        // Small lists (the visitor list's 30 rows) stay small; long ones get full chunks.
        m_capacity = std::min(kChunkSize, std::max<uint32_t>({4096u, uint32_t(need), m_capacity * 2}));
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(m_capacity));
        m_used = 0;
    }
    if (m_recent.empty())
        m_recent.assign(size_t(m_columns) * kRecentSlots, CRecent{kNone, -1});
    const uint32_t record = (uint32_t(m_chunks.size() - 1) << kOffsetBits) | m_used;
    auto* out = reinterpret_cast<unsigned char*>(m_chunks.back().get()) + m_used;
    size_t written = 0;
    for (int c = 0; c < m_columns; ++c) {
        // A cell past the first megabyte of a long record cannot be referred to.
        const uint32_t ref = m_used + written < kChunkSize ? record + uint32_t(written) : kNone;
        written += WriteCell(c, cells[c], out + written, ref);
    }
    m_used = need > kChunkSize ? m_capacity : m_used + uint32_t(written);
    return record;
}

size_t CTextRows::WriteCell(int column, std::string_view bytes, unsigned char* out, uint32_t ref)
{
    if (bytes.empty()) {
        out[0] = 0;
        return 1;
    }
    const uint32_t slot = uint32_t(qHash(QByteArrayView(bytes.data(), qsizetype(bytes.size()))) % kRecentSlots);
    CRecent& recent = m_recent[size_t(column) * kRecentSlots + slot];
    if (recent.ref != kNone && StoredText(recent.ref) == bytes) {
        std::vector<uint32_t>& dictionary = m_dictionary[size_t(column)];
        if (recent.code < 0) {
            recent.code = int32_t(dictionary.size());
            dictionary.push_back(recent.ref);
        }
        return PutNumber((uint32_t(recent.code) << 1) | 1, out);
    }
    const size_t n = PutNumber(uint32_t(bytes.size()) << 1, out);
    std::memcpy(out + n, bytes.data(), bytes.size());
    if (ref != kNone)
        recent = CRecent{ref, -1};
    return n + bytes.size();
}

void CTextRows::SetText(qsizetype row, int column, const QString& text)
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= m_columns)
        return;
    const QByteArray bytes = text.toUtf8();
    // The row is written anew; its old record stays unused (a rare change).
    std::vector<std::string_view> cells(static_cast<size_t>(m_columns));
    for (int c = 0; c < m_columns; ++c)
        cells[size_t(c)] = c == column ? std::string_view(bytes.constData(), size_t(bytes.size())) : Utf8(row, c);
    m_rows[size_t(row)] = WriteRecord(cells.data());
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

void CTextRows::Squeeze()
{
    if (!m_chunks.empty() && m_used < m_capacity) {
        auto exact = std::make_unique_for_overwrite<char[]>(std::max<uint32_t>(m_used, 1));
        std::memcpy(exact.get(), m_chunks.back().get(), m_used);
        m_chunks.back() = std::move(exact);
        m_capacity = m_used;
    }
    m_rows.shrink_to_fit();
    for (std::vector<uint32_t>& dictionary : m_dictionary)
        dictionary.shrink_to_fit();
    std::vector<CRecent>().swap(m_recent);
}

const unsigned char* CTextRows::Address(uint32_t ref) const
{
    return reinterpret_cast<const unsigned char*>(m_chunks[ref >> kOffsetBits].get()) + (ref & (kChunkSize - 1));
}

std::string_view CTextRows::StoredText(uint32_t ref) const
{
    const unsigned char* at = Address(ref);
    const uint32_t length = TakeNumber(at) >> 1;
    return std::string_view(reinterpret_cast<const char*>(at), length);
}

std::string_view CTextRows::Utf8(qsizetype row, int column) const
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= m_columns)
        return {};
    const unsigned char* at = Address(m_rows[size_t(row)]);
    for (int c = 0;; ++c) {
        const uint32_t head = TakeNumber(at);
        if (c == column) {
            if (head & 1)
                return StoredText(m_dictionary[size_t(c)][head >> 1]);
            return std::string_view(reinterpret_cast<const char*>(at), head >> 1);
        }
        if (!(head & 1))
            at += head >> 1;
    }
}

QString CTextRows::Text(qsizetype row, int column) const
{
    const std::string_view bytes = Utf8(row, column);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

std::vector<uint32_t> CListRows::Order() const
{
    if (m_order)
        return *m_order;
    std::vector<uint32_t> order(static_cast<size_t>(StoredCount()));
    std::iota(order.begin(), order.end(), 0u);
    return order;
}

std::vector<uint32_t>& CListRows::WritableOrder()
{
    if (m_order.use_count() > 1)
        m_order = std::make_shared<std::vector<uint32_t>>(*m_order);
    return *m_order;
}

void CListRows::Append(Block block)
{
    if (!block || block->RowCount() == 0)
        return;
    const qsizetype start = StoredCount();
    const qsizetype count = block->RowCount();
    m_blocks.push_back(std::move(block));
    m_starts.push_back(start + count);
    if (m_order) {
        std::vector<uint32_t>& order = WritableOrder();
        for (qsizetype i = 0; i < count; ++i)
            order.push_back(uint32_t(start + i));
    }
}

void CListRows::GrowLast()
{
    if (m_starts.empty())
        return;
    if (m_order)
        WritableOrder().push_back(uint32_t(m_starts.back()));
    ++m_starts.back();
}

void CListRows::SetOrder(std::vector<uint32_t> order)
{
    m_order = std::make_shared<std::vector<uint32_t>>(std::move(order));
}

void CListRows::Clear()
{
    m_blocks.clear();
    m_starts.clear();
    m_order.reset();
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
    return StoredUtf8(StoredRow(row), column);
}

QString CListRows::Text(qsizetype row, int column) const
{
    const std::string_view bytes = Utf8(row, column);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}
