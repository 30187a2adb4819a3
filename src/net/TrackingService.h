#pragma once
// The client side of the tracking service: registration (web ID), the IM
// name, the account state and the page-view feed. Every call is one
// FetchText below Endpoints().trackingBase; no state between calls, any
// thread.
#include <QString>

// "/rivuzovara/GetWebID.asp": true and the text after the first "+OK " (may be empty).
bool GetWebID(const QString& name, const QString& pwd, QString& webId);
// "/rivuzovara/SaveImName.asp": true when the reply contains "+OK".
bool SaveImName(const QString& name, const QString& pwd, const QString& imName);
// "/rivuzovara/GetUserState.asp": true and the whole reply.
bool GetUserState(const QString& name, QString& reply);
// "/rivuzovara/GetInfo.asp": the latest page view of the web ID. The outputs
// are left untouched when the fetch fails.
void GetInfo(const QString& webId, QString& ip, QString& itemUrl, QString& third);

// The feed grammar: record = reply up to the first "|##|"; fields between
// "#||#" separators, each needing its closer; nothing trimmed or decoded.
void ParseFeedReply(const QString& reply, QString& ip, QString& itemUrl, QString& third);
