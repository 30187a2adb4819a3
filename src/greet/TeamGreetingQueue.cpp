#include "greet/TeamGreetingQueue.h"

#include "accounts/TeamSettings.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "store/Variant.h"

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

} // namespace

CTeamGreetingQueue::~CTeamGreetingQueue()
{
    // A stop between claim and finish leaves the row for another pass.
    if (m_claimed)
        Finish(false);
}

int CTeamGreetingQueue::DropStale(qint64 nowMs)
{
    if (!Run(QStringLiteral("begin")))
        return -1;
    QList<qint64> rows;
    QStringList shops;
    {
        CAdoRecordSet recordSet(g_pConnection);
        if (!recordSet.Open(QStringLiteral("select [ClientName], [UserName], [Message], rowid from [AutoSend] "
                                           "where [queuedtime] < '%1' for update skip locked")
                                .arg(SqlText(StoreTimeText(nowMs - kHeldGreetingLifetimeMs))))) {
            Run(QStringLiteral("rollback"));
            return -1;
        }
        for (; !recordSet.IsEOF(); recordSet.MoveNext()) {
            const qint64 rowId = RowIdOf(recordSet.GetValue(AutoSendColumn::kRowId));
            QString shop;
            recordSet.GetCollect(AutoSendColumn::kUserName, shop);
            if (rowId < 0)
                continue;
            rows.append(rowId);
            shops.append(shop);
        }
    }
    if (rows.isEmpty())
        return Run(QStringLiteral("rollback")) ? 0 : -1;
    if (!Run(QStringLiteral("delete from [AutoSend] where rowid in (%1)").arg(SqlNumberList(rows))) ||
        !Run(QStringLiteral("commit"))) {
        Run(QStringLiteral("rollback"));
        return -1;
    }
    shops.removeDuplicates();
    qCWarning(LogGreet).noquote() << rows.size()
                                  << "greeting(s) dropped: not sent within 30 minutes (no machine greets for, or "
                                     "the chat was never free); shops:"
                                  << shops.join(QStringLiteral(", "));
    return int(rows.size());
}

std::optional<CQueuedGreeting> CTeamGreetingQueue::Claim(const QStringList& shops, const QList<qint64>& skip)
{
    if (m_claimed)
        Finish(false);
    if (shops.isEmpty() || !Run(QStringLiteral("begin")))
        return std::nullopt;
    const QString notSkipped =
        skip.isEmpty() ? QString() : QStringLiteral(" and rowid not in (%1)").arg(SqlNumberList(skip));
    CAdoRecordSet recordSet(g_pConnection);
    if (!recordSet.Open(QStringLiteral("select [ClientName], [UserName], [Message], rowid from [AutoSend] where "
                                       "[UserName] in (%1)%2 order by rowid limit 1 for update skip locked")
                            .arg(SqlTextList(shops), notSkipped)) ||
        recordSet.IsEOF()) {
        Run(QStringLiteral("rollback"));
        return std::nullopt;
    }
    CQueuedGreeting greeting;
    greeting.rowId = RowIdOf(recordSet.GetValue(AutoSendColumn::kRowId));
    recordSet.GetCollect(AutoSendColumn::kClientName, greeting.visitor);
    recordSet.GetCollect(AutoSendColumn::kUserName, greeting.account);
    recordSet.GetCollect(AutoSendColumn::kMessage, greeting.tmpl);
    recordSet.Close();
    if (greeting.rowId < 0) {
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
    if (!done)
        return Run(QStringLiteral("rollback"));
    if (Run(QStringLiteral("delete from [AutoSend] where rowid = %1").arg(m_rowId)) && Run(QStringLiteral("commit")))
        return true;
    qCWarning(LogGreet) << "a sent greeting could not be taken off the shared queue";
    Run(QStringLiteral("rollback"));
    return false;
}
