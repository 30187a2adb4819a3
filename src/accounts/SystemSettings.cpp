#include "accounts/SystemSettings.h"

#include "accounts/LiveSettings.h"

void PublishLiveSettings(const CSystemSettings& settings)
{
    CLiveSettings& live = LiveSettings();
    live.autorun = settings.autorun;
    live.clienttip = settings.clienttip;
    live.reflashtime = qMax(settings.reflashtime, kRefreshMin);
    live.sendsteptime = qMax(settings.sendsteptime, kSendMin);
    live.guesttip = settings.guesttip;
    live.playsound = settings.playsound;
}

CSystemSettings LiveSystemSettings()
{
    const CLiveSettings& live = LiveSettings();
    CSystemSettings settings;
    settings.autorun = live.autorun;
    settings.clienttip = live.clienttip;
    settings.reflashtime = live.reflashtime;
    settings.sendsteptime = live.sendsteptime;
    settings.guesttip = live.guesttip;
    settings.playsound = live.playsound;
    return settings;
}
