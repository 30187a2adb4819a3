#include "monitor/TeamAlerts.h"

#include "accounts/AdvancedSettings.h"
#include "accounts/TeamSettings.h"
#include "monitor/AlertPolicy.h"
#include "monitor/RefreshShop.h"
#include "monitor/VisitorListBridge.h"
#include "notify/OwnerNotifier.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "tables/VisitTable.h"

#include <QStringList>

#include <algorithm>

namespace {

// The visits by shop, each shop's newest first (the order of its IM page).
QList<QList<CNewVisit>> ReadVisits(const QList<qint64>& ids)
{
    QList<QList<CNewVisit>> shops;
    QList<CVisitRow> rows;
    if (!CVisitTable::ByIds(ids, rows)) {
        qCWarning(LogMonitor) << "visits another machine recorded could not be read; no alert";
        return shops;
    }
    for (const CVisitRow& row : rows) {
        const CNewVisit visit{row.guestName, row.ip, row.shopName, row.lastTime, row.city, row.shopUrl};
        auto group = std::find_if(shops.begin(), shops.end(),
                                  [&](const QList<CNewVisit>& visits) { return visits.first().shop == visit.shop; });
        if (group == shops.end())
            shops.append({visit});
        else
            group->append(visit);
    }
    return shops;
}

} // namespace

CTeamAlerts::CTeamAlerts(QObject* parent) : QObject(parent)
{
    m_batch.setSingleShot(true);
    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, &CTeamAlerts::Flush);
}

CTeamAlerts::~CTeamAlerts()
{
    m_work.Stop();
}

void CTeamAlerts::OnVisitRecorded(qint64 id, const QString& machine)
{
    // This machine's own visits were announced by its poll.
    if (machine == ThisMachine() || id <= 0)
        return;
    m_pending.append(id);
    if (!m_batch.isActive())
        m_batch.start();
}

void CTeamAlerts::Flush()
{
    if (m_pending.isEmpty())
        return;
    // One batch at a time; the next waits for the one under way.
    if (m_work.IsRunning()) {
        m_batch.start();
        return;
    }
    QList<qint64> ids;
    ids.swap(m_pending);
    m_work = RunThenCallback(
        this, [ids] { RaiseAlerts(ids); }, [] {});
}

void CTeamAlerts::RaiseAlerts(const QList<qint64>& ids)
{
    const CAdvancedSettings advanced = CurrentAdvancedSettings();
    const QString quietSummary = AlertPolicy().TakeQuietSummary(advanced, Clock().NowMs());
    if (!quietSummary.isEmpty())
        AlertOwner(quietSummary);
    const QList<QList<CNewVisit>> shops = ReadVisits(ids);
    for (const QList<CNewVisit>& visits : shops) {
        QStringList names;
        for (const CNewVisit& visit : visits)
            names.append(visit.name);
        AnnounceNewVisitors(advanced, visits.first(), names, true);
    }
    if (shops.isEmpty())
        return;
    if (IVisitorListBridge* bridge = VisitorListBridge())
        bridge->RequestRefill();
}
