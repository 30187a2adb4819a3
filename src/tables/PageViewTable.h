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
#include <QList>
#include <QString>

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

    // The statements of the statistics page. shop empty: every shop; the views from day
    // `from` ("yyyy-MM-dd", inclusive) to before day `until`, both empty: every view.
    // Views per hour of each day: "yyyy-MM-dd HH" keys with their counts.
    static QString DayHourSql(const QString& shop, const QString& from, const QString& until);
    // The most viewed item addresses, most first.
    static QString TopItemsSql(const QString& shop, const QString& from, const QString& until, int count);
    // The regions (country part of [city]) by views, most first.
    static QString TopRegionsSql(const QString& shop, const QString& from, const QString& until, int count);
    // The largest [id]: equal marks mean no view was added since.
    static QString MarkSql();
};
