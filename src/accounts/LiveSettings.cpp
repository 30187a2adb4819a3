#include "accounts/LiveSettings.h"

CLiveSettings& LiveSettings()
{
    static CLiveSettings settings;
    return settings;
}
