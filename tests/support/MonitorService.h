#pragma once
// The IM-side admin calls of rivuzovara-local, for the monitoring tests, and
// a reading of [client] / [AutoSend] rows.
#include "support/LocalService.h"

#include <QString>
#include <QStringList>

#include <vector>

// Puts the visitor at the top of imName's profile page; an empty imId lists it without one.
bool AddImVisitor(const CLocalService& service, const QString& imName, const QString& name,
                  const QString& imId = QString());
// "1" online, "0" offline, or any state text.
bool SetImPresence(const CLocalService& service, const QString& imId, const QString& state);
bool SetItemTitle(const CLocalService& service, int item, const QString& title);
bool ClearIm(const CLocalService& service);

// Every row of the query, each column fetched as text.
std::vector<QStringList> ReadRows(const QString& sql);
