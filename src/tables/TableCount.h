#pragma once
// The one number a "select count(*) ..." (or max) of a table owner answers.
#include <QString>

class CAdoConnection;

// On connection (g_pConnection when null); -1 when the store did not answer.
int CountOf(const QString& sql, CAdoConnection* connection = nullptr);
