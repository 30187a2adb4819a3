#pragma once
// The greeting queue ([AutoSend]): the one place that reads and writes the
// table, on the local store and on the team store alike. The monitoring thread
// queues a greeting with its visit (one transaction, CVisitTable::RecordNew);
// the greeting thread takes it in passes through one object kept across them:
// BeginPass, then Next and Finish for each greeting, then EndPass.
// On this machine's store a pass takes the rows as read at its start and
// removes the finished ones by rowid at its end, so greetings queued meanwhile
// wait for the next pass. A greeting held back (before the click) stays queued
// and is tried again on each pass until kHeldGreetingLifetimeMs after a pass
// first read it; then it is dropped with its log row. [AutoSend] has no time
// column, so that moment is kept here, by rowid: rows are read within seconds
// of being queued, and a stop empties the queue, so a new thread never meets an
// old held row. On the team store the queue is shared by every machine: see
// TeamGreetingQueue.h.
#include "tables/GreetingLogTable.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class CTeamGreetingQueue;

// One [AutoSend] row as a pass reads it.
struct CQueuedGreeting
{
    qint64 rowId = -1;
    QString visitor;
    QString account;
    QString tmpl;
};

constexpr qint64 kHeldGreetingLifetimeMs = 30 * 60 * 1000;

class CGreetingQueue
{
public:
    // The shops this machine greets for on the team store, asked at the start of
    // each team pass; nothing when the store did not answer.
    using CGreetShops = std::function<std::optional<QStringList>()>;
    explicit CGreetingQueue(CGreetShops greetShops = {});
    ~CGreetingQueue();
    CGreetingQueue(const CGreetingQueue&) = delete;
    CGreetingQueue& operator=(const CGreetingQueue&) = delete;

    // The statement that queues the greeting (its rowId unused), for the visit's transaction.
    static QString EnqueueStatement(const CQueuedGreeting& greeting);
    // Whether a greeting queued now is taken: on this machine only while its sender runs;
    // on the team store by whichever machine greets for the shop.
    static bool TakesGreetings(bool senderRunning);
    // Whom's greetings still queued and not logged as sent at or after since (store
    // time): a row already sent waits only for the end of its pass. -1 when the store
    // did not answer.
    static int CountWaiting(const CGreetingsOf& whom, const QString& since);
    // When the greeting switch stops the sender: this machine's queue is emptied; the team
    // store's is shared (another machine may greet for those shops, and what nobody sends is
    // dropped after 30 minutes), so there it is kept. False when the statement failed.
    static bool ClearWhenSenderStops();
    // Deletes the visitor's queued greetings of every shop: how many, -1 on failure.
    static int DeleteVisitor(const QString& visitor);

    // Starts a pass; false when there is none to make (the team store's server is away).
    bool BeginPass();
    // The pass's next greeting, claimed (committed) on the team store before it is
    // typed; nothing at the end of the pass.
    std::optional<CQueuedGreeting> Next();
    // The fate of the greeting Next gave: removed (done: sent or given up) or kept
    // for a later pass (held). False when the store did not take it.
    bool Finish(bool done);
    // Ends a pass that ran to its end; a pass cut short by a stop leaves its rows.
    void EndPass();

private:
    bool BeginLocalPass();
    qint64 FirstSeenMs(const CQueuedGreeting& greeting, qint64 now);

    struct CFirstSeen
    {
        qint64 ms = 0;
        QString visitor;
        QString account;
    };
    CGreetShops m_greetShops;
    // This machine's store: the pass's rows, the next one, the finished ones.
    std::vector<CQueuedGreeting> m_rows;
    size_t m_next = 0;
    qint64 m_current = -1;
    QList<qint64> m_done;
    std::map<qint64, CFirstSeen> m_firstSeen; // by rowid
    // The team store: kept across passes, so a failed delete is tried again.
    std::unique_ptr<CTeamGreetingQueue> m_team;
    bool m_teamPass = false;
    QStringList m_shops;
    QList<qint64> m_tried; // held rows given back, passed over for the rest of the pass
};
