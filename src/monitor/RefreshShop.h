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

// The page parse of FetchProfileVisitors: appends every entry that has both a
// name (at most 50 characters as written) and an IM ID (under 100 characters
// after portraitPrefix, up to the next full stop), both percent-decoded. Pure.
void ParseProfileVisitors(const QString& page, const QString& portraitPrefix, QStringList& names, QStringList& ids);

// The start of one visitor entry on the profile page.
extern const QString kProfileEntryMarker;
