#pragma once
// The greeting log ([greetlog]): one row per greeting, written when its fate
// is decided (sent, not sent with the reason, dropped). The one place that
// reads and writes the table, on the local store and the team store alike.
// Any thread, through g_pConnection; the statistics page reads on connections
// of its own.
#include "tables/StatsQuery.h"

#include <QString>

class CAdoConnection;

// Why a greeting was held or not sent; [greetlog].[reason] holds its text.
enum class EGreetReason
{
    Sent, // no reason: it went out
    NoWindow,
    SeveralWindows,
    FocusLost,
    Grab,
    Dropped, // held, or claimed by a machine that went away, for 30 minutes
    Failed,
};
// The owner-facing text of a reason (empty for Sent).
QString GreetReasonText(EGreetReason reason);

// Whose greetings a count takes: one shop's (visitor empty) or one visitor's of every shop.
struct CGreetingsOf
{
    QString shop;
    QString visitor;
};

class CGreetingLogTable
{
public:
    // The row of one greeting's fate, stamped now; false (logged) when the store did not take it.
    static bool Write(const QString& shop, const QString& visitor, EGreetReason reason);
    // How many of whom's greetings went out at or after since (store time); -1 when the store did not answer.
    static int CountSent(const CGreetingsOf& whom, const QString& since);
    // Deletes the visitor's rows of every shop: how many, -1 on failure.
    static int DeleteVisitor(const QString& visitor);

    // The statistics page's reads, on the connection given (the page reads several at
    // once, each on a connection of its own); false (logged) when the store cannot be read.
    // Per day ("yyyy-MM-dd"), the greetings that went out and those that did not.
    static bool ReadPerDay(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row);
    // The largest id so far, 0 for an empty log: equal ids mean nothing was logged since.
    static bool LastId(CAdoConnection* connection, qint64& id);
    // Their statements, which tests run on both stores.
    static QString PerDaySql(const CStatsQuery& query);
    static QString LastIdSql();
};
