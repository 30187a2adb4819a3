#include "tables/TeamGreetingQueue.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "store/Variant.h"
#include "tables/GreetingLogTable.h"

namespace {

bool Run(const QString& sql)
{
    return g_pConnection && g_pConnection->Execute(sql);
}

// The row id as the store gives it (a number; text from a store that hands numbers over as text); -1 for none.
qint64 RowIdOf(const CVariant& value)
{
    switch (value.type) {
    case EVarType::Empty:
    case EVarType::Null:
        return -1;
    case EVarType::BStr:
    case EVarType::LPStr:
    case EVarType::LPWStr: {
        bool ok = false;
        const qint64 number = value.text.toLongLong(&ok);
        return ok ? number : -1;
    }
    default:
        return value.integer;
    }
}

// The shops as the list inside "in (...)": each quoted.
QString SqlShopList(const QStringList& shops)
{
    QStringList quoted;
    for (const QString& shop : shops)
        quoted.append(QLatin1Char('\'') + SqlText(shop) + QLatin1Char('\''));
    return quoted.join(QLatin1Char(','));
}

} // namespace

// The condition of a row left too long: queued and never claimed, or claimed and never finished.
const char kStaleCondition[] = "([claimedby] is null and [queuedat] < now() - interval '30 minutes') or "
                               "([claimedby] is not null and [claimedat] < now() - interval '30 minutes')";

int CTeamGreetingQueue::DropStale()
{
    if (!m_undeleted.isEmpty() &&
        Run(QStringLiteral("delete from [AutoSend] where rowid in (%1)").arg(SqlNumberList(m_undeleted))))
        m_undeleted.clear();
    if (!Run(QStringLiteral("begin")))
        return -1;
    QList<qint64> rows;
    QList<CQueuedGreeting> dropped;
    QStringList claimedBy;
    {
        CAdoRecordSet recordSet(g_pConnection);
        if (!recordSet.Open(QStringLiteral("select [ClientName], [UserName], [Message], rowid, [claimedby] from "
                                           "[AutoSend] where %1 for update skip locked")
                                .arg(QLatin1String(kStaleCondition)))) {
            Run(QStringLiteral("rollback"));
            return -1;
        }
        for (; !recordSet.IsEOF(); recordSet.MoveNext()) {
            CQueuedGreeting greeting;
            greeting.rowId = RowIdOf(recordSet.GetValue(AutoSendColumn::kRowId));
            recordSet.GetCollect(AutoSendColumn::kClientName, greeting.visitor);
            recordSet.GetCollect(AutoSendColumn::kUserName, greeting.account);
            QString machine;
            recordSet.GetCollect(AutoSendColumn::kRowId + 1, machine);
            if (greeting.rowId < 0)
                continue;
            rows.append(greeting.rowId);
            dropped.append(greeting);
            if (!machine.isEmpty())
                claimedBy.append(machine);
        }
    }
    if (rows.isEmpty())
        return Run(QStringLiteral("rollback")) ? 0 : -1;
    if (!Run(QStringLiteral("delete from [AutoSend] where rowid in (%1)").arg(SqlNumberList(rows))) ||
        !Run(QStringLiteral("commit"))) {
        Run(QStringLiteral("rollback"));
        return -1;
    }
    QStringList shops;
    for (const CQueuedGreeting& greeting : dropped) {
        shops.append(greeting.account);
        CGreetingLogTable::Write(greeting.account, greeting.visitor, EGreetReason::Dropped);
    }
    shops.removeDuplicates();
    claimedBy.removeDuplicates();
    qCWarning(LogGreet).noquote() << rows.size()
                                  << "greeting(s) dropped: not sent within 30 minutes (no machine greets for, the "
                                     "chat was never free, or the machine that took it stopped answering); shops:"
                                  << shops.join(QStringLiteral(", "))
                                  << (claimedBy.isEmpty()
                                          ? QString()
                                          : QStringLiteral("; taken by: ") + claimedBy.join(QStringLiteral(", ")));
    return int(rows.size());
}

std::optional<CQueuedGreeting> CTeamGreetingQueue::Claim(const QStringList& shops, const QList<qint64>& skip)
{
    if (m_claimed)
        Finish(false);
    if (shops.isEmpty() || !g_pConnection || !Run(QStringLiteral("begin")))
        return std::nullopt;
    const QString notSkipped =
        skip.isEmpty() ? QString() : QStringLiteral(" and rowid not in (%1)").arg(SqlNumberList(skip));
    CQueuedGreeting greeting;
    {
        CAdoRecordSet recordSet(g_pConnection);
        if (!recordSet.Open(QStringLiteral("select [ClientName], [UserName], [Message], rowid from [AutoSend] where "
                                           "[claimedby] is null and [UserName] in (%1)%2 order by rowid limit 1 "
                                           "for update skip locked")
                                .arg(SqlShopList(shops), notSkipped)) ||
            recordSet.IsEOF()) {
            Run(QStringLiteral("rollback"));
            return std::nullopt;
        }
        greeting.rowId = RowIdOf(recordSet.GetValue(AutoSendColumn::kRowId));
        recordSet.GetCollect(AutoSendColumn::kClientName, greeting.visitor);
        recordSet.GetCollect(AutoSendColumn::kUserName, greeting.account);
        recordSet.GetCollect(AutoSendColumn::kMessage, greeting.tmpl);
    }
    if (greeting.rowId < 0 ||
        !Run(QStringLiteral("update [AutoSend] set [claimedby] = '%1', [claimedat] = now() where rowid = %2")
                 .arg(SqlText(g_pConnection->MachineName()))
                 .arg(greeting.rowId))) {
        Run(QStringLiteral("rollback"));
        return std::nullopt;
    }
    if (!Run(QStringLiteral("commit"))) {
        // Perhaps committed, perhaps not: never typed; a claim that landed is dropped after 30 minutes.
        qCWarning(LogGreet) << "a greeting's claim on the shared queue was not confirmed; it is not sent";
        Run(QStringLiteral("rollback"));
        return std::nullopt;
    }
    m_claimed = true;
    m_rowId = greeting.rowId;
    return greeting;
}

bool CTeamGreetingQueue::Finish(bool done)
{
    if (!m_claimed)
        return true;
    m_claimed = false;
    if (done) {
        if (Run(QStringLiteral("delete from [AutoSend] where rowid = %1").arg(m_rowId)))
            return true;
        // Still claimed, so never sent again; deleted at a later pass.
        qCWarning(LogGreet) << "a finished greeting could not be taken off the shared queue; tried again later";
        m_undeleted.append(m_rowId);
        return false;
    }
    if (Run(QStringLiteral("update [AutoSend] set [claimedby] = null, [claimedat] = null where rowid = %1 and "
                           "[claimedby] = '%2'")
                .arg(m_rowId)
                .arg(SqlText(g_pConnection ? g_pConnection->MachineName() : QString()))))
        return true;
    qCWarning(LogGreet) << "a held greeting's claim could not be given back; it is dropped after 30 minutes";
    return false;
}
