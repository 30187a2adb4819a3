#pragma once
// A prepared SQLite statement that finalises itself; the tracking stores of
// rivuzovara and of the stand-in rivuzovara-local both read and write through it.
// Used on one thread at a time, under the caller's connection lock.

#include <sqlite3.h>

#include <string>

namespace rivuzovara {

class CSqliteStatement
{
public:
    CSqliteStatement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~CSqliteStatement() { sqlite3_finalize(m_stmt); }
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;

    bool Ok() const { return m_stmt != nullptr; }
    void Bind(int index, const std::string& text)
    {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Bind(int index, long long value) { sqlite3_bind_int64(m_stmt, index, value); }
    int Step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }
    void Reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    std::string Text(int column) const
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }
    long long Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace rivuzovara
