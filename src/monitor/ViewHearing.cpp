#include "monitor/ViewHearing.h"

#include "accounts/LiveSettings.h"

#include <atomic>

namespace {

std::atomic<bool> g_realTime{false};

} // namespace

void SetHearingInRealTime(bool realTime)
{
    g_realTime = realTime;
}

bool HearingInRealTime()
{
    return g_realTime.load();
}

QString ViewHearingText()
{
    if (HearingInRealTime())
        return QStringLiteral("访客提醒:实时");
    return QStringLiteral("访客提醒:每%1秒刷新").arg(LiveSettings().reflashtime.load());
}
