#pragma once
// Bringing the store up at start and down at exit (window's thread).
#include <QString>

// Opens (or creates) dataDir + "/Info.mdb" as g_pConnection, empties the greeting queue
// and checks the schema. When the file cannot be opened the owner is told once, where it
// is and why; g_pConnection then stays closed and every statement fails quietly.
bool OpenStore(const QString& dataDir);
// Closes and destroys g_pConnection; it then points at a closed stand-in that fails
// every statement, so a late worker meets no freed object.
void CloseStore();

// The start-up message for a store that could not be opened.
QString StoreOpenFailureText(const QString& path, const QString& reason);
