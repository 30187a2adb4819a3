#pragma once
// The visits ([client]): the one place that reads and writes the table, on the
// local store and on the team store alike, so no caller knows which it is.
#include "controls/TextRows.h"
#include "tables/StatsQuery.h"

#include <QDate>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CAdoConnection;
struct CQueuedGreeting;

// One visit as the store gives it back, every value as text.
struct CVisitRow
{
    QString guestName;
    QString ip;
    QString shopName;
    QString lastTime;
    QString count;
    QString city;
    QString shopUrl;
    QString imUid;
};

// What the history page lists: every visit, a day's, a visitor's or a shop's
// (text matched anywhere in the name), or the item ranking.
enum class EVisitSearch
{
    All,
    Day,
    Visitor,
    Shop,
    Ranking
};

struct CVisitSearch
{
    EVisitSearch kind = EVisitSearch::All;
    QDate day;
    QString text;
};

using CListBlockSink = std::function<void(std::shared_ptr<const CTextRows>)>;

class CVisitTable
{
public:
    // Recording a visit (the monitoring's road): VisitRecording.cpp.
    // Whether the visitor has a visit of the shop; nothing when the store did not answer.
    static std::optional<bool> IsRecorded(const QString& visitor, const QString& shop);
    // Inserts the visit (its count 1) and, when greeting is given, its queue row after it,
    // as one transaction: both or neither. 1: recorded; 0: the store already had the visit
    // (another machine of the team a moment ago), nothing queued; -1: nothing written.
    static int RecordNew(const CVisitRow& visit, const CQueuedGreeting* greeting = nullptr);

    // Browsing, searching, deleting and ranking (history, lists, statistics): VisitTable.cpp.
    // Stateless, any thread: the window's (visitor list, card), the history page's and the
    // statistics page's workers, the upkeep's and the team alerts' workers. Each call works
    // on g_pConnection, or on the connection given; without one it fails.

    // The newest visits by time, at most count of them; false when the store cannot be read.
    static bool Latest(int count, QList<CVisitRow>& rows);
    // The visits with these ids, newest first; false when the store cannot be read.
    static bool ByIds(const QList<qint64>& ids, QList<CVisitRow>& rows);
    // The IM ID of one visit; empty when unknown.
    static QString ImUid(qint64 id);
    // A search of the history page into list blocks, off the window's thread: positions[c]
    // is the row's value in list column c (a visit's columns in table order; the ranking's
    // address 0 and count 1; -1 an empty cell). False when it cannot be read or stop rose.
    static bool ReadList(const CVisitSearch& search, const QList<int>& positions, const CListBlockSink& onBlock,
                         const std::atomic<int>& stop);
    // The deletes of the history page, each one transaction; false when the store refused.
    // Ids that are negative are left out; none left: nothing to do, true.
    static bool DeleteIds(std::vector<qint64> ids);
    static bool DeleteDays(const QDate& first, const QDate& last);
    // At most `most` visits stamped before cutoff, oldest first: the rows deleted, -1 on error.
    static int DeleteBefore(const QString& cutoff, int most);
    // Every visit of that visitor in every shop: the rows deleted, -1 on error.
    static int DeleteVisitor(const QString& visitor);

    // The statistics page's grouped reads, on the connection given (the page reads
    // several at once, each on a connection of its own); false when one fails.
    static bool LastId(CAdoConnection* connection, qint64& id);
    // "yyyy-MM-dd HH" keys with their visits.
    static bool ReadHourCounts(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row);
    // Item addresses and regions (country part of [city]), most first, kStatsTopCount at most.
    static bool ReadTopItems(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row);
    static bool ReadTopRegions(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row);
    // Per day, the visits whose visitor was recorded for the shop on an earlier day.
    static bool ReadReturning(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row);
};
