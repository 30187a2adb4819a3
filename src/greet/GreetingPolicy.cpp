#include "greet/GreetingPolicy.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Variant.h"

#include <QDateTime>

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

QDateTime LocalTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
}

// The first column of a one-row count; -1 when the store does not answer.
int Count(const QString& sql)
{
    if (!g_pConnection)
        return -1;
    CAdoRecordSet rs(g_pConnection);
    int count = -1;
    if (!rs.Open(sql) || rs.IsEOF() || !rs.GetCollectInt(0, count))
        return -1;
    return count;
}

// Sent since `since` (store time) plus still queued, for the condition on each table; -1 on failure.
// The sender deletes its rows only after its pass, so a queued row already sent is not counted again;
// one held for a later try (not logged until its fate is decided) still counts as queued.
int SentOrQueued(const QString& logCondition, const QString& queueCondition, const QString& since)
{
    const int sent = Count(QStringLiteral("select count(*) from [greetlog] where %1 and [ok] <> 0 and "
                                          "[senttime] >= '%2'")
                               .arg(logCondition, since));
    const int queued =
        Count(QStringLiteral("select count(*) from [AutoSend] where %1 and not exists (select 1 from "
                             "[greetlog] where [greetlog].[shopname] = [AutoSend].[UserName] and "
                             "[greetlog].[guestname] = [AutoSend].[ClientName] and [greetlog].[ok] <> 0 and "
                             "[greetlog].[senttime] >= '%2')")
                  .arg(queueCondition, since));
    return sent < 0 || queued < 0 ? -1 : sent + queued;
}

} // namespace

CGreetingPolicy& GreetingPolicy()
{
    static CGreetingPolicy policy;
    return policy;
}

QString CGreetingPolicy::BudgetNoticeText(const QString& shop, int budget)
{
    return QStringLiteral("[%1]今天已打招呼%2次,达到每日上限,新客户只记录不再打招呼!").arg(shop).arg(budget);
}

EGreetVerdict CGreetingPolicy::Judge(const CAdvancedSettings& settings, qint64 nowMs, const QString& shop,
                                     const QString& visitor)
{
    if (!settings.dailyBudget && !settings.oncePerPerson)
        return EGreetVerdict::Queue;
    const QDateTime now = LocalTime(nowMs);
    if (settings.dailyBudget) {
        const QString midnight = StoreTimeText(QDateTime(now.date(), QTime(0, 0)).toMSecsSinceEpoch());
        const QString sqlShop = SqlText(shop);
        const int count = SentOrQueued(QStringLiteral("[shopname] = '%1'").arg(sqlShop),
                                       QStringLiteral("[UserName] = '%1'").arg(sqlShop), midnight);
        if (count < 0) {
            qCWarning(LogGreet) << "greeting budget unknown, the store did not answer; not queued";
            return EGreetVerdict::Unknown;
        }
        if (count >= settings.budget)
            return EGreetVerdict::OverBudget;
    }
    if (settings.oncePerPerson) {
        const QString since = StoreTimeText(nowMs - settings.onceDays * kDayMs);
        const QString sqlVisitor = SqlText(visitor);
        const int count = SentOrQueued(QStringLiteral("[guestname] = '%1'").arg(sqlVisitor),
                                       QStringLiteral("[ClientName] = '%1'").arg(sqlVisitor), since);
        if (count < 0) {
            qCWarning(LogGreet) << "earlier greetings unknown, the store did not answer; not queued";
            return EGreetVerdict::Unknown;
        }
        if (count > 0)
            return EGreetVerdict::GreetedRecently;
    }
    return EGreetVerdict::Queue;
}

QString CGreetingPolicy::TakeBudgetNotice(const CAdvancedSettings& settings, qint64 nowMs, const QString& shop)
{
    const QString today = LocalTime(nowMs).date().toString(Qt::ISODate);
    std::lock_guard lock(m_mutex);
    if (m_noticeDay.value(shop) == today)
        return QString();
    m_noticeDay.insert(shop, today);
    return BudgetNoticeText(shop, settings.budget);
}
