#pragma once
// The greeting queue ([AutoSend]) as the machines of a team share it, the team
// half of CGreetingQueue. A machine claims one row at a time, only of the shops
// it greets for: marked with the machine and the server's time ("for update
// skip locked", so two machines never mark the same row) and committed before
// a key is typed. The row is deleted once the greeting is sent or given up, or
// unmarked when it was held before the click. A marked row is never claimed
// again: when its machine stopped answering mid-greeting (session lost,
// machine gone) it is dropped 30 minutes after the mark, so a visitor never
// gets a second greeting. Unclaimed rows queued 30 minutes ago are dropped
// too. All times of that rule are the server's. Used by the greeting thread
// only, on its own session of the team store; kept across passes.
#include "tables/GreetingQueue.h"

#include <QList>
#include <QStringList>

#include <optional>

class CTeamGreetingQueue
{
public:
    // Drops the stale rows above, each with its [greetlog] row; how many, -1
    // when the store did not answer. Tries again the deletes of sent rows that failed.
    int DropStale();
    // Claims the oldest unclaimed row of one of shops that is not in skip and
    // commits the claim; nothing when there is none or the commit failed (a
    // claim whose fate is unknown is never typed).
    std::optional<CQueuedGreeting> Claim(const QStringList& shops, const QList<qint64>& skip);
    // Ends the claim: the row is deleted (done) or given back for a later pass.
    // False when the store did not take it.
    bool Finish(bool done);

private:
    bool m_claimed = false;
    qint64 m_rowId = -1;
    QList<qint64> m_undeleted; // finished rows whose delete failed
};
