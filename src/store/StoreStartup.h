#pragma once
// Bringing the store up at start and down at exit (window's thread).
#include <QString>

// Opens (or creates) dataDir + "/Info.mdb" as g_pConnection, empties the greeting queue
// and checks the schema; or, when mirelhelper.ini names the team store, connects to it
// (its queue is shared and stays). When the file cannot be opened the owner is told once, where it
// is and why; g_pConnection then stays closed and every statement fails quietly.
bool OpenStore(const QString& dataDir);
// Closes and destroys g_pConnection; it then points at a closed stand-in that fails
// every statement, so a late worker meets no freed object.
void CloseStore();

// The start-up message for a store that could not be opened.
QString StoreOpenFailureText(const QString& path, const QString& reason);
// The same for a team store whose server refused us (where: the url without its password).
QString TeamStoreFailureText(const QString& where, const QString& reason);
