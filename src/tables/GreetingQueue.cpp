#include "tables/GreetingQueue.h"

#include "store/AdoConnection.h"

QString CGreetingQueue::EnqueueStatement(const CQueuedGreeting& greeting)
{
    // On the team store the server stamps the queue time: the 30-minute rule reads one clock.
    return QStringLiteral("insert into [AutoSend] ([ClientName] , [UserName] , [Message]) values ('%1' , '%2' , '%3')")
        .arg(SqlText(greeting.visitor), SqlText(greeting.account), SqlText(greeting.tmpl));
}

bool CGreetingQueue::TakesGreetings(bool senderRunning)
{
    return senderRunning || (g_pConnection && g_pConnection->IsTeamStore());
}
