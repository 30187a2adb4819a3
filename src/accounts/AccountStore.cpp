#include "accounts/AccountStore.h"

#include "store/AdoConnection.h"
#include "tables/GreetingQueue.h"

bool ClearGreetingQueue()
{
    if (!g_pConnection)
        return false;
    if (g_pConnection->IsTeamStore())
        return true;
    return CGreetingQueue::Clear();
}
