#pragma once
// Reads the rows of a query into blocks of list rows, for a list filled off
// the window's thread. Runs on the calling (worker) thread; the store's
// connection is shared, each step holds its lock only for that step.
#include "controls/TextRows.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class CAdoConnection;

// positions[c] is the query column shown in list column c (-1: an empty cell).
// Each finished block goes to onBlock: the first is small so the first screen
// shows at once, later ones are large. False when the query could not be
// opened or stop was raised; the blocks handed over until then stay valid.
bool ReadListRows(CAdoConnection* connection, const QString& sql, const QList<int>& positions,
                  const std::function<void(std::shared_ptr<const CTextRows>)>& onBlock, const std::atomic<int>& stop);
