#pragma once
// The greeting queue ([AutoSend]) as the machines of a team share it: a
// machine claims one row at a time, only of the shops it greets for, inside
// a transaction with "for update skip locked", so two machines never take the
// same row; it deletes the row in that transaction once it is done with it.
// Rows nobody took for kHeldGreetingLifetimeMs are dropped with a log line.
// Used by the greeting thread only, on its own session of the team store.
#include "greet/AutoSendMsgThread.h"

#include <QList>
#include <QStringList>

#include <optional>

class CTeamGreetingQueue
{
public:
    ~CTeamGreetingQueue();

    // Drops rows queued before nowMs - kHeldGreetingLifetimeMs (none held by
    // another machine's claim); how many, -1 when the store did not answer.
    int DropStale(qint64 nowMs);
    // Begins a transaction and claims the oldest row of one of shops that is
    // not in skip; nothing (and no transaction left open) when there is none.
    std::optional<CQueuedGreeting> Claim(const QStringList& shops, const QList<qint64>& skip);
    // Ends the claim: the row is deleted (done) or left for a later pass.
    // False when the store did not take it.
    bool Finish(bool done);

private:
    bool m_claimed = false;
    qint64 m_rowId = -1;
};
