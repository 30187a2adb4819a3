#include "accounts/AdvancedSettings.h"

#include "tables/SettingsTable.h"

#include <mutex>

namespace {

std::mutex g_liveMutex;
CAdvancedSettings g_live;

} // namespace

CAdvancedSettings CurrentAdvancedSettings()
{
    std::lock_guard lock(g_liveMutex);
    return g_live;
}

void PublishAdvancedSettings(const CAdvancedSettings& settings)
{
    CAdvancedSettings s = settings;
    s.Normalise();
    std::lock_guard lock(g_liveMutex);
    g_live = s;
}

bool LoadAdvancedSettings()
{
    CAdvancedSettings read;
    if (!CSettingsTable().ReadAdvanced(read))
        return false;
    PublishAdvancedSettings(read);
    return true;
}
