#pragma once
// Rows of texts kept compactly: each row is one record of UTF-8 bytes in large
// shared chunks, found by one 32-bit reference. A cell in the record is either
// its text or, when the text repeated recently in its column (shop, region,
// item address, count), a small number into that column's dictionary. A
// million visits take about 65 bytes a row, a twelfth of a list of QStrings.
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
    qsizetype RowCount() const { return qsizetype(m_rows.size()); }

    // Missing texts are empty; texts beyond the column count are ignored.
    void AppendRow(const QStringList& texts);
    // cells holds ColumnCount() UTF-8 texts.
    void AppendRowUtf8(const std::string_view* cells);
    void SetText(qsizetype row, int column, const QString& text);
    std::shared_ptr<CTextRows> Clone() const;
    // Gives back the room kept for further rows; rows may still be added after.
    void Squeeze();

    std::string_view Utf8(qsizetype row, int column) const;
    QString Text(qsizetype row, int column) const;

private:
    // Where a text first seen in a column was stored, and its dictionary number once it repeated.
    struct CRecent
    {
        uint32_t ref;
        int32_t code;
    };

    uint32_t WriteRecord(const std::string_view* cells);
    size_t WriteCell(int column, std::string_view bytes, unsigned char* out, uint32_t ref);
    const unsigned char* Address(uint32_t ref) const;
    std::string_view StoredText(uint32_t ref) const;

    int m_columns;
    std::vector<uint32_t> m_rows; // each row's record
    std::vector<std::unique_ptr<char[]>> m_chunks;
    uint32_t m_used = 0;                             // bytes used in the last chunk
    uint32_t m_capacity = 0;                         // its size
    std::vector<std::vector<uint32_t>> m_dictionary; // per column: where each repeated text is stored
    // Per column, a small direct-mapped memory of recent texts: repeats cost a
    // byte or two, unique texts cost no table of their own.
    std::vector<CRecent> m_recent;
};

// The rows of a list as shown: blocks of stored rows and the order they are
// shown in. A copy shares the blocks and the order, so a worker can read a
// list of a million rows while the window goes on.
class CListRows
{
public:
    using Block = std::shared_ptr<const CTextRows>;

    qsizetype RowCount() const { return m_order ? qsizetype(m_order->size()) : StoredCount(); }
    qsizetype StoredCount() const { return m_starts.empty() ? 0 : m_starts.back(); }
    // By the row's place on screen.
    QString Text(qsizetype row, int column) const;
    std::string_view Utf8(qsizetype row, int column) const;
    // By the row's place in storage.
    std::string_view StoredUtf8(uint32_t stored, int column) const;
    uint32_t StoredRow(qsizetype row) const { return m_order ? (*m_order)[size_t(row)] : uint32_t(row); }
    // The stored rows in the order shown.
    std::vector<uint32_t> Order() const;

    void Append(Block block);
    // The last block has grown by one row.
    void GrowLast();
    void SetOrder(std::vector<uint32_t> order);
    void Clear();
    // The block holding a stored row and the row's index in it.
    std::pair<const CTextRows*, qsizetype> Locate(uint32_t stored) const;
    const std::vector<Block>& Blocks() const { return m_blocks; }
    void ReplaceBlock(size_t index, Block block) { m_blocks[index] = std::move(block); }

private:
    // Rows added to a sorted list go last; a shared order is copied first.
    std::vector<uint32_t>& WritableOrder();

    std::vector<Block> m_blocks;
    std::vector<qsizetype> m_starts; // stored rows up to and including each block
    // Null while rows show in storage order (as read), which costs nothing.
    std::shared_ptr<std::vector<uint32_t>> m_order;
};
