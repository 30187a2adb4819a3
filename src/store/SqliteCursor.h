#pragma once
// A query's rows on the local store: one prepared statement, stepped as the record set
// moves. The statement keeps the file's handle alive after the store closed (SQLite frees
// it with its last statement). Read by one thread.
#include "store/StoreBackend.h"

struct sqlite3;
struct sqlite3_mutex;
struct sqlite3_stmt;

// Holds a handle's own mutex across a step and the reads of its result and error state,
// which another thread's statement would otherwise overwrite.
class CDbMutexLock
{
public:
    explicit CDbMutexLock(sqlite3* db);
    ~CDbMutexLock();
    CDbMutexLock(const CDbMutexLock&) = delete;
    CDbMutexLock& operator=(const CDbMutexLock&) = delete;

private:
    sqlite3_mutex* m_mutex;
};

class CSqliteCursor final : public CStoreCursor
{
public:
    // Takes the statement, stepped once already (hasRow: it stands on a row).
    CSqliteCursor(sqlite3_stmt* stmt, bool hasRow);
    ~CSqliteCursor() override;
    CSqliteCursor(const CSqliteCursor&) = delete;
    CSqliteCursor& operator=(const CSqliteCursor&) = delete;

    bool AtEnd() const override { return m_end; }
    bool Next() override;
    CVariant Value(int position) const override;
    void RowUtf8(const QList<int>& positions, std::vector<QByteArray>& scratch, std::string_view* out) override;

private:
    sqlite3_stmt* m_stmt;
    bool m_end;
};
