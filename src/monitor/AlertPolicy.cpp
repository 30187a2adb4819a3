#include "monitor/AlertPolicy.h"

#include <QDateTime>

namespace {

const QString kNewVisitorPrefix = QStringLiteral("新客户");
const QString kWatchedPrefix = QStringLiteral("关注客户");

} // namespace

CAlertPolicy& AlertPolicy()
{
    static CAlertPolicy policy;
    return policy;
}

bool CAlertPolicy::InQuietHours(const CAdvancedSettings& settings, qint64 nowMs)
{
    if (!settings.quietHours || settings.quietFrom == settings.quietTo)
        return false;
    const QTime time = QDateTime::fromMSecsSinceEpoch(nowMs).toLocalTime().time();
    const int minute = time.hour() * 60 + time.minute();
    if (settings.quietFrom < settings.quietTo)
        return minute >= settings.quietFrom && minute < settings.quietTo;
    // Across midnight, e.g. 23:00-08:00.
    return minute >= settings.quietFrom || minute < settings.quietTo;
}

QString CAlertPolicy::QuietSummaryText(int visitors)
{
    return QStringLiteral("安静时段内有%1位客户访问了您的网店").arg(visitors);
}

void CAlertPolicy::NoteQuiet(bool quiet)
{
    m_wasQuiet = m_wasQuiet || quiet;
}

std::vector<COwnerAlert> CAlertPolicy::ForNewVisitors(const CAdvancedSettings& settings, qint64 nowMs,
                                                      const QString& shop, const QStringList& newNames,
                                                      const QString& firstName, const QString& ordinary)
{
    std::vector<COwnerAlert> alerts;
    if (newNames.isEmpty())
        return alerts;
    QStringList watched;
    for (const QString& name : newNames) {
        if (settings.IsWatched(name))
            watched.append(name);
    }
    const bool quiet = InQuietHours(settings, nowMs);
    {
        std::lock_guard lock(m_mutex);
        NoteQuiet(quiet);
        if (quiet && !ordinary.isEmpty())
            m_held += static_cast<int>(newNames.size() - watched.size());
    }

    if (!quiet && !ordinary.isEmpty()) {
        if (settings.bursts && newNames.size() >= kBurstThreshold) {
            const QStringList shown = newNames.mid(0, kBurstNamesShown);
            alerts.push_back({QStringLiteral("%1位新客户访问[%2]的网店\r\n%3等")
                                  .arg(QString::number(newNames.size()), shop, shown.join(QStringLiteral("、"))),
                              shop, newNames.first()});
        } else if (!watched.contains(firstName)) {
            alerts.push_back({ordinary, shop, firstName});
        }
    }
    // Last, so the balloon left on the screen is the watched visitor's.
    for (const QString& name : watched) {
        const bool ordinaryNamesThem = name == firstName && ordinary.startsWith(kNewVisitorPrefix);
        const QString text = ordinaryNamesThem
                                 ? kWatchedPrefix + ordinary.mid(kNewVisitorPrefix.size())
                                 : kWatchedPrefix + QStringLiteral("[%1]\r\n访问[%2]的网店").arg(name, shop);
        alerts.push_back({text, shop, name});
    }
    return alerts;
}

bool CAlertPolicy::AllowGuestAlert(const CAdvancedSettings& settings, qint64 nowMs)
{
    const bool quiet = InQuietHours(settings, nowMs);
    std::lock_guard lock(m_mutex);
    NoteQuiet(quiet);
    if (quiet)
        ++m_held;
    return !quiet;
}

QString CAlertPolicy::TakeQuietSummary(const CAdvancedSettings& settings, qint64 nowMs)
{
    const bool quiet = InQuietHours(settings, nowMs);
    std::lock_guard lock(m_mutex);
    if (quiet || !m_wasQuiet) {
        NoteQuiet(quiet);
        return QString();
    }
    m_wasQuiet = false;
    const int held = m_held;
    m_held = 0;
    return held > 0 ? QuietSummaryText(held) : QString();
}
