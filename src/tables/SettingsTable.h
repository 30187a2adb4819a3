#pragma once
// The settings rows: the system settings ([sysseting], id 1), the advanced
// settings ([advsetting], id 1) and, on the team store, each machine's row of
// [machine] (the shops it greets for, when it was last seen). The one place
// that reads and writes them, on the local store and on the team store alike:
// there [sysseting] and [advsetting] are each machine's own row, and the
// machine rows exist only there. Stateless; any thread. Every call is one
// statement or one reading on the connection given (g_pConnection when none
// is, taken at each call), and does nothing (false, no rows) without one.
#include "tables/Settings.h"

#include <QString>
#include <QStringList>

class CAdoConnection;

class CSettingsTable
{
public:
    explicit CSettingsTable(CAdoConnection* connection = nullptr) : m_connection(connection) {}

    // The system settings row into settings (intervals raised to their minimum);
    // false, settings untouched, when the row cannot be read.
    bool ReadSystem(CSystemSettings& settings) const;
    // False when the statement failed. A row that is gone (an old or hand-edited
    // store) is made again, then saved into.
    bool WriteSystem(const CSystemSettings& settings) const;
    static QString SaveSystemSql(const CSystemSettings& settings);

    // False (settings untouched) when the row cannot be read.
    bool ReadAdvanced(CAdvancedSettings& settings) const;
    // False when the update failed or what reads back is not what was written.
    bool WriteAdvanced(const CAdvancedSettings& settings) const;

    // The shops machine greets for, as the 团队设置 dialog stored them; empty
    // (and *ok false) when the store does not answer or is not the team store.
    QStringList ReadGreetShops(const QString& machine, bool* ok = nullptr) const;
    // One row per machine; false when the statement failed or there is no team store.
    bool WriteGreetShops(const QString& machine, const QStringList& shops) const;
    // Marks machine as seen now; false when the statement failed or there is no team store.
    bool TouchMachine(const QString& machine) const;

private:
    CAdoConnection* Connection() const;
    // The team store's connection; nullptr on the local store.
    CAdoConnection* TeamConnection() const;

    CAdoConnection* m_connection;
};
