#pragma once
// One poll of one monitored account: fetch the tracking feed and the account's
// IM profile page, parse them, record the new visitors (CVisitTable), judge
// their greetings (GreetingPolicy) and queue them with the visits
// (CGreetingQueue), then announce: alerts and status texts. Runs on the monitoring thread; keeps nothing
// between polls (the table and theSessionMan are its memory).
#include <QList>
#include <QString>
#include <QStringList>

struct CAdvancedSettings;

// One recorded visit as the owner is told of it.
struct CNewVisit
{
    QString name;
    QString ip;
    QString shop;
    QString time;
    QString region;
    QString itemUrl;
};

// Tells the owner of a shop's new visitors (names newest first; first is the
// newest, described in full when describe is set) by the owner's alert rules,
// and puts the visit on the status bar: the same whether this machine polled
// the visits or another machine of the team recorded them.
void AnnounceNewVisitors(const CAdvancedSettings& advanced, const CNewVisit& first, const QStringList& names,
                         bool describe);

void RefreshShop(const QString& webId, const QString& account, const QString& imName, const QString& greeting,
                 bool autoGreet);
// RefreshShop with the feed's page view given (the newest wake-up record) instead of a GetInfo request.
void RefreshShopWithFeed(const QString& account, const QString& imName, const QString& greeting, bool autoGreet,
                         const QString& ip, const QString& itemUrl);

// A page view as the feed gives it: the visitor's address and the item page, as they stand.
struct CFeedView
{
    QString ip;
    QString itemUrl;
};
// RefreshShopWithFeed with the newest of several views (oldest first) as the feed, each
// anonymous guest among them alerted by the guest rule, not only the newest.
void RefreshShopWithViews(const QString& account, const QString& imName, const QString& greeting, bool autoGreet,
                          const QList<CFeedView>& views);
// A feed's values as a visit stores them: placeholders for what the feed lacked, the region
// of a usable address, the time of now.
CNewVisit ReadFeed(const QString& account, const QString& ip, const QString& itemUrl);

// The visitors the IM profile page of imName lists, in page order; both lists
// empty when the page cannot be fetched or lists nobody.
void FetchProfileVisitors(const QString& imName, QStringList& names, QStringList& imIds);

// The most entries taken from one page (the real page lists 30).
inline constexpr qsizetype kMaxProfileEntries = 200;

// The page parse of FetchProfileVisitors: appends every entry that has both a
// name (at most 50 characters as written) and an IM ID (under 100 characters
// after portraitPrefix, up to the next full stop, looked for only before the
// next entry), both percent-decoded; at most kMaxProfileEntries. Linear in the
// page's size; a stop of the calling worker (platform/AbortScope.h) ends it early.
void ParseProfileVisitors(const QString& page, const QString& portraitPrefix, QStringList& names, QStringList& ids);

// The start of one visitor entry on the profile page.
extern const QString kProfileEntryMarker;
