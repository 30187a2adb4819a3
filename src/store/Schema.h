#pragma once
// The start-up checks of the store.
class CAdoRecordSet;
class CAdoConnection;

// True when the record set has a column of that name (case-insensitive).
bool HasColumn(CAdoRecordSet& recordSet, const char* name);
// Looks for [sysseting].[AddRandom]; adds the Yes/No column when it is missing.
void UpgradeSchema(CAdoConnection* connection);
