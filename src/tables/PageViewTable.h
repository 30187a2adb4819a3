#pragma once
// The page views ([pageview]) the tracking service reported, each kept once by shop and
// sequence number, and each account's last sequence number ([user].[viewseq]): the one
// place that writes either, on the local store and on the team store alike. Used by the
// thread that hears of views (statements through g_pConnection) and, for its statements
// only, by the statistics page's worker.
//
// On the team store only the machine that holds an account's poll may call Record for that
// account: the caller keeps that rule, nothing here checks it. (A second machine would not
// double a view, but the two would overwrite each other's [viewseq].)
#include "tables/StatsQuery.h"

#include <QList>
#include <QString>

class CAdoConnection;

struct CPageView
{
    qint64 seq = 0; // the service's number of the view, counting up per web ID
    QString ip;
    QString city;     // the region of ip, as the visits write it
    QString shopUrl;  // the item address
    QString viewTime; // "yyyy-MM-dd HH:mm:ss", local time; empty: when recorded
};

class CPageViewTable
{
public:
    // The last sequence number recorded for the account: 0 before its first, -1 when the
    // account is unknown or the store cannot be read (logged).
    static qint64 LastSeq(const QString& shop);
    // Writes the views not yet kept (by shop and seq) and the account's newSeq in one
    // transaction: all or nothing. The number of views that were new (*fresh gets them, in
    // the order given), or -1 (logged, nothing written) when the store fails or has no such
    // account.
    static int Record(const QString& shop, const QList<CPageView>& views, qint64 newSeq,
                      QList<CPageView>* fresh = nullptr);

    // The upkeep's step: at most `most` views stamped before cutoff, oldest first; the rows
    // deleted, -1 on error.
    static int DeleteBefore(const QString& cutoff, int most);

    // The statistics page's grouped reads (the period's condition on the view time). Views
    // per hour of each day: "yyyy-MM-dd HH" keys with their counts.
    static QString DayHourSql(const CStatsQuery& query);
    // Item addresses and regions (country part of [city]) by views, most first, kStatsTopCount at most.
    static QString TopItemsSql(const CStatsQuery& query);
    static QString TopRegionsSql(const CStatsQuery& query);
    // The largest [id]; false (logged) when the store cannot be read.
    static bool LastId(CAdoConnection* connection, qint64& id);
};
