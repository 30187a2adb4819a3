#pragma once
// The greeting queue ([AutoSend]): the one place that reads and writes the
// table, on the local store and on the team store alike. The monitoring thread
// queues a greeting with its visit (one transaction, CVisitTable::RecordNew).
#include <QString>

// One [AutoSend] row as a pass reads it.
struct CQueuedGreeting
{
    qint64 rowId = -1;
    QString visitor;
    QString account;
    QString tmpl;
};

class CGreetingQueue
{
public:
    // The statement that queues the greeting (its rowId unused), for the visit's transaction.
    static QString EnqueueStatement(const CQueuedGreeting& greeting);
    // Whether a greeting queued now is taken: on this machine only while its sender runs;
    // on the team store by whichever machine greets for the shop.
    static bool TakesGreetings(bool senderRunning);
};
