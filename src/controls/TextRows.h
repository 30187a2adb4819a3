#pragma once
// Rows of texts kept compactly: every cell's UTF-8 bytes sit in large shared
// chunks and a cell is one 32-bit reference into them; a value that repeats
// in a column (shop, region, item address) is stored once. A million visits
// take about a tenth of what a list of QStrings would.
// Filled by one thread at a time; once handed over (as a const pointer) it is
// only read, so any thread may read it.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class CTextRows
{
public:
    explicit CTextRows(int columns);

    int ColumnCount() const { return m_columns; }
    qsizetype RowCount() const { return m_columns > 0 ? qsizetype(m_cells.size() / size_t(m_columns)) : 0; }

    // Missing texts are empty; texts beyond the column count are ignored.
    void AppendRow(const QStringList& texts);
    // cells holds ColumnCount() UTF-8 texts.
    void AppendRowUtf8(const std::string_view* cells);
    void SetText(qsizetype row, int column, const QString& text);
    std::shared_ptr<CTextRows> Clone() const;

    std::string_view Utf8(qsizetype row, int column) const;
    QString Text(qsizetype row, int column) const;

private:
    uint32_t Store(int column, std::string_view bytes);
    std::string_view Utf8View(uint32_t ref) const;

    int m_columns;
    std::vector<uint32_t> m_cells; // row-major
    std::vector<std::unique_ptr<char[]>> m_chunks;
    uint32_t m_used = 0;     // bytes used in the last chunk
    uint32_t m_capacity = 0; // its size
    // Per column, a small direct-mapped memory of recent values: repeats
    // cost nothing more, unique values cost no table of their own.
    std::vector<uint32_t> m_recent;
};

// The rows of a list as shown: blocks of stored rows and the order they are
// shown in. A copy shares the blocks, so a worker can read a list of a
// million rows while the window goes on.
class CListRows
{
public:
    using Block = std::shared_ptr<const CTextRows>;

    qsizetype RowCount() const { return qsizetype(m_order.size()); }
    qsizetype StoredCount() const { return m_starts.empty() ? 0 : m_starts.back(); }
    // By the row's place on screen.
    QString Text(qsizetype row, int column) const;
    std::string_view Utf8(qsizetype row, int column) const;
    // By the row's place in storage.
    std::string_view StoredUtf8(uint32_t stored, int column) const;
    uint32_t StoredRow(qsizetype row) const { return m_order[size_t(row)]; }
    const std::vector<uint32_t>& Order() const { return m_order; }

    void Append(Block block);
    // The last block has grown by one row.
    void GrowLast();
    void SetOrder(std::vector<uint32_t> order) { m_order = std::move(order); }
    void Clear();
    // The block holding a stored row and the row's index in it.
    std::pair<const CTextRows*, qsizetype> Locate(uint32_t stored) const;
    const std::vector<Block>& Blocks() const { return m_blocks; }
    void ReplaceBlock(size_t index, Block block) { m_blocks[index] = std::move(block); }

private:
    std::vector<Block> m_blocks;
    std::vector<qsizetype> m_starts; // stored rows up to and including each block
    std::vector<uint32_t> m_order;
};
