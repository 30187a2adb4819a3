#pragma once
// One poll of one monitored account: the tracking feed and the account's IM
// profile page become visits ([client]), queued greetings ([AutoSend]),
// alerts and status texts. Runs on the monitoring thread; keeps nothing
// between polls (the table and theSessionMan are its memory).
#include <QString>
#include <QStringList>

void RefreshShop(const QString& webId, const QString& account, const QString& imName, const QString& greeting,
                 bool autoGreet);

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
