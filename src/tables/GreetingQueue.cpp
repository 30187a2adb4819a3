#include "tables/GreetingQueue.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "tables/TableCount.h"
#include "tables/TeamGreetingQueue.h"

namespace {

bool Run(const QString& sql)
{
    return g_pConnection && g_pConnection->Execute(sql);
}

} // namespace

CGreetingQueue::CGreetingQueue(CGreetShops greetShops) : m_greetShops(std::move(greetShops)) {}

CGreetingQueue::~CGreetingQueue() = default;

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

int CGreetingQueue::CountWaiting(const CGreetingsOf& whom, const QString& since)
{
    // The log is looked into here: the sender deletes its rows only after its pass,
    // so a row already sent must not count again. One held for a later try (not
    // logged until its fate is decided) still counts as queued.
    const QString condition = whom.visitor.isEmpty() ? QStringLiteral("[UserName] = '%1'").arg(SqlText(whom.shop))
                                                     : QStringLiteral("[ClientName] = '%1'").arg(SqlText(whom.visitor));
    return CountOf(QStringLiteral("select count(*) from [AutoSend] where %1 and not exists (select 1 from "
                                  "[greetlog] where [greetlog].[shopname] = [AutoSend].[UserName] and "
                                  "[greetlog].[guestname] = [AutoSend].[ClientName] and [greetlog].[ok] <> 0 and "
                                  "[greetlog].[senttime] >= '%2')")
                       .arg(condition, since));
}

bool CGreetingQueue::ClearWhenSenderStops()
{
    if (!g_pConnection)
        return false;
    if (g_pConnection->IsTeamStore())
        return true;
    return Run(QStringLiteral("delete from [AutoSend]"));
}

int CGreetingQueue::DeleteVisitor(const QString& visitor)
{
    if (!g_pConnection)
        return -1;
    return g_pConnection->ExecuteChanges(
        QStringLiteral("delete from [AutoSend] where [ClientName] = '%1'").arg(SqlText(visitor)));
}

bool CGreetingQueue::BeginPass()
{
    m_teamPass = g_pConnection && g_pConnection->IsTeamStore();
    if (!m_teamPass)
        return BeginLocalPass();
    if (!g_pConnection->IsReachable())
        return false;
    if (!m_team)
        m_team = std::make_unique<CTeamGreetingQueue>();
    const std::optional<QStringList> shops = m_greetShops ? m_greetShops() : std::nullopt;
    m_team->DropStale();
    m_shops = shops.value_or(QStringList());
    m_tried.clear();
    return true;
}

bool CGreetingQueue::BeginLocalPass()
{
    m_rows.clear();
    m_next = 0;
    m_current = -1;
    m_done.clear();
    if (g_pConnection) {
        CAdoRecordSet recordSet(g_pConnection);
        if (recordSet.Open(QStringLiteral("select *, rowid from [AutoSend]"))) {
            for (; !recordSet.IsEOF(); recordSet.MoveNext()) {
                CQueuedGreeting greeting;
                const CVariant rowId = recordSet.GetValue(AutoSendColumn::kRowId);
                if (rowId.type != EVarType::Empty && rowId.type != EVarType::Null)
                    greeting.rowId = rowId.integer;
                recordSet.GetCollect(AutoSendColumn::kClientName, greeting.visitor);
                recordSet.GetCollect(AutoSendColumn::kUserName, greeting.account);
                recordSet.GetCollect(AutoSendColumn::kMessage, greeting.tmpl);
                if (greeting.rowId >= 0)
                    m_rows.push_back(greeting);
            }
        }
    }
    // Rows gone from the queue (emptied by a stop, sent) are forgotten.
    std::map<qint64, CFirstSeen> stillQueued;
    for (const CQueuedGreeting& greeting : m_rows) {
        const auto it = m_firstSeen.find(greeting.rowId);
        if (it != m_firstSeen.end())
            stillQueued.insert(*it);
    }
    m_firstSeen.swap(stillQueued);
    // A row counts from the pass that first read it, not from its turn in the pass.
    const qint64 readAt = Clock().NowMs();
    for (const CQueuedGreeting& greeting : m_rows)
        FirstSeenMs(greeting, readAt);
    return true;
}

qint64 CGreetingQueue::FirstSeenMs(const CQueuedGreeting& greeting, qint64 now)
{
    // A rowid of a deleted row can come back for a new row; the names tell them apart.
    auto it = m_firstSeen.find(greeting.rowId);
    if (it == m_firstSeen.end() || it->second.visitor != greeting.visitor || it->second.account != greeting.account)
        it = m_firstSeen.insert_or_assign(greeting.rowId, CFirstSeen{now, greeting.visitor, greeting.account}).first;
    return it->second.ms;
}

std::optional<CQueuedGreeting> CGreetingQueue::Next()
{
    if (m_teamPass) {
        if (m_shops.isEmpty())
            return std::nullopt;
        std::optional<CQueuedGreeting> greeting = m_team->Claim(m_shops, m_tried);
        if (greeting)
            m_tried.append(greeting->rowId);
        return greeting;
    }
    while (m_next < m_rows.size()) {
        const CQueuedGreeting& greeting = m_rows[m_next++];
        const qint64 now = Clock().NowMs();
        if (now - FirstSeenMs(greeting, now) < kHeldGreetingLifetimeMs) {
            m_current = greeting.rowId;
            return greeting;
        }
        // The visitor has long gone; a greeting now would come out of nowhere.
        qCWarning(LogGreet) << "greeting dropped: held for 30 minutes without a free keyboard and chat window";
        CGreetingLogTable::Write(greeting.account, greeting.visitor, EGreetReason::Dropped);
        m_done.append(greeting.rowId);
    }
    return std::nullopt;
}

bool CGreetingQueue::Finish(bool done)
{
    if (m_teamPass)
        return m_team->Finish(done);
    if (done && m_current >= 0)
        m_done.append(m_current);
    m_current = -1;
    return true;
}

void CGreetingQueue::EndPass()
{
    if (m_teamPass || m_done.isEmpty())
        return;
    if (Run(QStringLiteral("delete from [AutoSend] where rowid in (%1)").arg(SqlNumberList(m_done)))) {
        for (qint64 rowId : m_done)
            m_firstSeen.erase(rowId);
    }
    m_done.clear();
}
