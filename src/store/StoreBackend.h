#pragma once
// What CAdoConnection asks of a store, the local SQLite file or the team's PostgreSQL
// server: the statements, already in the program's Jet-flavoured text, and the rows of a
// query read forwards. A backend is made, opened and closed by its CAdoConnection, which
// keeps Close from running while a statement is under way; the statements come from any
// thread.
#include "store/Variant.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

class QThread;

// One query's rows, read forwards, row by row as the store gives them. Read by one
// thread (a record set's); still safe to read after its backend closed.
class CStoreCursor
{
public:
    virtual ~CStoreCursor() = default;
    // The query's column names, and the value type each column declares (Empty: by value).
    QStringList ColumnNames() const { return m_names; }
    QList<EVarType> ColumnTypes() const { return m_types; }
    virtual bool AtEnd() const = 0;
    // Moves to the next row; false when reading failed (logged), which also ends the rows.
    virtual bool Next() = 0;
    // The value at a position of the current row; the caller checked the position.
    virtual CVariant Value(int position) const = 0;
    // The texts at positions of the current row (-1: empty), without a copy where the
    // stored bytes already are the text; scratch holds what had to be converted.
    virtual void RowUtf8(const QList<int>& positions, std::vector<QByteArray>& scratch, std::string_view* out) = 0;

protected:
    QStringList m_names;
    QList<EVarType> m_types;
};

class CStoreBackend
{
public:
    virtual ~CStoreBackend() = default;
    virtual bool IsTeam() const = 0;
    virtual QString MachineName() const = 0;
    virtual bool IsReachable() const = 0;
    // The statements of CAdoConnection, of the same name and meaning.
    virtual int ExecuteChanges(const QString& sql) = 0;
    // By default plain statements: begin, the chain, commit; and one delete. Enough where each
    // thread has a session of its own that the server keeps apart from the others.
    virtual bool ExecuteChain(const QString& first, const std::function<QString(int done, int changes)>& next,
                              QList<int>* changes);
    virtual bool DeleteWhere(const QString& table, const QString& condition);
    // Statements of that thread from now on get the window's shorter waits.
    virtual void SetWindowThread(QThread* thread, int busyTimeoutMs) = 0;
    // Null on any error (logged).
    virtual std::unique_ptr<CStoreCursor> OpenCursor(const QString& sql) = 0;

protected:
    // The statements of a chain through run, which gives a statement's change count or -1;
    // false at the first failure. The caller holds the transaction.
    static bool RunChain(const QString& first, const std::function<QString(int done, int changes)>& next,
                         QList<int>* changes, const std::function<int(const QString&)>& run);
};

// One failed statement in the log: its verb and table and the store's reason, first line,
// never a value (passwords, greetings).
void LogStatementFailure(const QString& sql, QString message);
