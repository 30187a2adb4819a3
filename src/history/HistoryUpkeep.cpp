#include "history/HistoryUpkeep.h"

#include "accounts/AdvancedSettings.h"
#include "platform/AbortScope.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/Variant.h"
#include "tables/GreetingLogTable.h"
#include "tables/GreetingQueue.h"
#include "tables/PageViewTable.h"
#include "tables/VisitTable.h"

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace {

constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;

bool Stopped(const std::atomic<int>* stop)
{
    return (stop && stop->load() != 0) || AbortRequested();
}

// Deletes with deleteStep (given how many rows at most; the rows deleted, -1 on
// error), one short statement at a time, until none is left or stop rises. Each
// step is sized to take about kUpkeepStepTargetMs, and the next waits a moment
// so a statement of another thread gets the store in between.
bool DeleteInSteps(const std::function<int(int most)>& deleteStep, qint64& deleted, const std::atomic<int>* stop)
{
    int step = kUpkeepFirstStep;
    QElapsedTimer timer;
    while (!Stopped(stop)) {
        timer.start();
        const int changed = deleteStep(step);
        const qint64 tookMs = timer.elapsed();
        if (changed < 0)
            return false;
        deleted += changed;
        if (changed < step)
            return true;
        if (tookMs < kUpkeepStepTargetMs / 2)
            step = std::min(step * 2, kUpkeepMaxStep);
        else if (tookMs > kUpkeepStepTargetMs * 2)
            step = std::max(step / 2, 16);
        // As long again for everybody else: a month's deletes never crowd out the polls.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<qint64>(tookMs, 5, 200)));
    }
    return true;
}

} // namespace

QString UpkeepCutoff(qint64 nowMs, int days)
{
    return StoreTimeText(nowMs - qint64(days) * kMsPerDay);
}

CUpkeepCounts DeleteHistoryBefore(const QString& cutoff, const std::atomic<int>* stop)
{
    CUpkeepCounts counts;
    CAdoConnection* connection = g_pConnection;
    if (!connection || !connection->IsOpen()) {
        counts.ok = false;
        return counts;
    }
    counts.ok =
        DeleteInSteps([&cutoff](int most) { return CVisitTable::DeleteBefore(cutoff, most); }, counts.visits, stop);
    if (counts.ok) {
        counts.ok = DeleteInSteps([&cutoff](int most) { return CPageViewTable::DeleteBefore(cutoff, most); },
                                  counts.pageViews, stop);
    }
    return counts;
}

CUpkeepCounts RunHistoryUpkeep(qint64 nowMs, const std::atomic<int>* stop)
{
    const int days = CurrentAdvancedSettings().keepDays;
    if (days <= 0)
        return {};
    const QString cutoff = UpkeepCutoff(nowMs, days);
    const CUpkeepCounts counts = DeleteHistoryBefore(cutoff, stop);
    if (counts.ok)
        qCInfo(LogStore).noquote() << QStringLiteral(
                                          "history upkeep: deleted %1 visits and %2 page views older than %3 "
                                          "days (before %4)%5")
                                          .arg(counts.visits)
                                          .arg(counts.pageViews)
                                          .arg(days)
                                          .arg(cutoff, Stopped(stop) ? QStringLiteral(", then stopped") : QString());
    else
        qCWarning(LogStore).noquote() << QStringLiteral("history upkeep failed after deleting %1 visits and %2 page "
                                                        "views older than %3 days; the next run tries again")
                                             .arg(counts.visits)
                                             .arg(counts.pageViews)
                                             .arg(days);
    return counts;
}

CUpkeepCounts DeleteVisitorEverywhere(const QString& visitor)
{
    CUpkeepCounts counts;
    CAdoConnection* connection = g_pConnection;
    if (!connection || visitor.isEmpty()) {
        counts.ok = false;
        return counts;
    }
    const int visits = CVisitTable::DeleteVisitor(visitor);
    const int logged = CGreetingLogTable::DeleteVisitor(visitor);
    const int queued = CGreetingQueue::DeleteVisitor(visitor);
    counts.ok = visits >= 0 && logged >= 0 && queued >= 0;
    counts.visits = std::max(visits, 0);
    counts.greetings = std::max(logged, 0) + std::max(queued, 0);
    if (counts.ok)
        qCInfo(LogStore) << "one visitor's records deleted:" << counts.visits << "visits," << counts.greetings
                         << "greeting rows";
    else
        qCWarning(LogStore) << "deleting one visitor's records failed part-way:" << counts.visits << "visits,"
                            << counts.greetings << "greeting rows deleted";
    return counts;
}
