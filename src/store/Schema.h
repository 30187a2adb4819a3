#pragma once
// The start-up checks of the store, and the tables a new store gets.
#include <QStringList>

class CAdoRecordSet;
class CAdoConnection;

// True when the record set has a column of that name (case-insensitive).
bool HasColumn(CAdoRecordSet& recordSet, const char* name);
// Looks for [sysseting].[AddRandom]; adds the Yes/No column when it is missing.
void UpgradeSchema(CAdoConnection* connection);

// The statements that build a new Info.mdb: the four tables in the column order every
// reader relies on (columns are fetched by position) and the one [sysseting] row.
QStringList NewStoreStatements();
