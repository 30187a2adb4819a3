#include "tables/Settings.h"

void RaiseToMinimum(CSystemSettings& settings)
{
    if (settings.reflashtime < kRefreshMin)
        settings.reflashtime = kRefreshMin;
    if (settings.sendsteptime < kSendMin)
        settings.sendsteptime = kSendMin;
}

void CAdvancedSettings::Normalise()
{
    quietFrom = qBound(0, quietFrom, kMinutesPerDay - 1);
    quietTo = qBound(0, quietTo, kMinutesPerDay - 1);
    budget = qBound(0, budget, kBudgetMax);
    onceDays = qBound(1, onceDays, kDaysMax);
    watchList = ParseWatchList(watchList.join(u'\n'));
    keepDays = keepDays <= 0 ? 0 : qBound(kKeepDaysMin, keepDays, kKeepDaysMax);
}

QStringList CAdvancedSettings::ParseWatchList(const QString& text)
{
    QStringList names;
    for (const QString& line : text.split(u'\n')) {
        const QString name = line.trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

bool CAdvancedSettings::IsWatched(const QString& visitor) const
{
    return watchList.contains(visitor);
}
