#include "accounts/AccountStore.h"

#include "store/AdoConnection.h"

bool ClearGreetingQueue()
{
    if (!g_pConnection)
        return false;
    if (g_pConnection->IsTeamStore())
        return true;
    return g_pConnection->Execute(QStringLiteral("delete from [AutoSend]"));
}
