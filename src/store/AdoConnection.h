#pragma once
// The one database connection of the process (g_pConnection), over SQLite in
// serialised mode: the window's thread and the worker threads use it without
// a lock of their own. Statements are the Jet-flavoured texts of the program
// ([bracketed] names, #date# literals), translated on the way in.
// Owned by the application object; created before any page, destroyed last.
#include <QString>

#include <shared_mutex>

struct sqlite3;
struct sqlite3_stmt;

class CAdoConnection
{
public:
    CAdoConnection();
    virtual ~CAdoConnection();
    CAdoConnection(const CAdoConnection&) = delete;
    CAdoConnection& operator=(const CAdoConnection&) = delete;

    // Builds "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=<path>" and opens it.
    // A missing file is created with the four tables and the settings row.
    bool Connect(const QString& path, const QString& password = QString(), int options = -1);
    bool Open(const QString& connectionString, int options = -1);
    void Close();
    bool IsOpen() const;
    // Runs one change statement; false on any error (nothing is shown).
    bool Execute(const QString& sql);

    QString ConnectionString() const;
    // Why the last Connect/Open failed, for the one start-up message; empty after success.
    QString LastOpenError() const;

    // For the record set only.
    sqlite3* Handle() const;
    // Prepares one query and steps to its first row; *hasRow tells whether there is one.
    // Null on any error. The statement stays usable after Close (the store frees the
    // connection when its last statement is finalised).
    sqlite3_stmt* OpenQuery(const QString& sql, bool* hasRow);

    // The path a connection string names ("Data Source=").
    static QString DataSourceOf(const QString& connectionString);

private:
    bool OpenFile(const QString& path);

    QString m_connectionString;
    QString m_lastOpenError;
    sqlite3* m_db = nullptr;
    // Shared by statements, exclusive for Open/Close, so no statement meets a freed handle.
    mutable std::shared_mutex m_handleLock;
};

extern CAdoConnection* g_pConnection;

// A text value ready to stand between single quotes in a statement: every
// single quote doubled. Every caller that formats text into SQL uses it.
QString SqlText(const QString& value);

// The statement as SQLite reads it: #date# literals outside quotes and brackets become
// '...' text literals in the store's form "YYYY-MM-DD HH:MM:SS".
QString TranslateStatement(const QString& sql);
