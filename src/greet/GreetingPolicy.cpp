#include "greet/GreetingPolicy.h"

#include "platform/Log.h"
#include "store/Variant.h"
#include "tables/GreetingLogTable.h"
#include "tables/GreetingQueue.h"

#include <QDateTime>

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

QDateTime LocalTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
}

// Sent since `since` (store time) plus still queued; -1 when the store did not answer.
int SentOrQueued(const CGreetingsOf& whom, const QString& since)
{
    const int sent = CGreetingLogTable::CountSent(whom, since);
    const int queued = CGreetingQueue::CountWaiting(whom, since);
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
        const int count = SentOrQueued(CGreetingsOf{shop, QString()}, midnight);
        if (count < 0) {
            qCWarning(LogGreet) << "greeting budget unknown, the store did not answer; not queued";
            return EGreetVerdict::Unknown;
        }
        if (count >= settings.budget)
            return EGreetVerdict::OverBudget;
    }
    if (settings.oncePerPerson) {
        const QString since = StoreTimeText(nowMs - settings.onceDays * kDayMs);
        const int count = SentOrQueued(CGreetingsOf{QString(), visitor}, since);
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
