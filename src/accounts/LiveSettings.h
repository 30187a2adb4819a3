#pragma once
// The live system settings and the greeting thread's running state. The
// configuration page writes them on the window's thread; the monitoring,
// greeting and alert code read them at the moment of use from any thread.
// Each is one atomic 32-bit value, so a change takes effect at once.
#include "store/SettingsDefaults.h"

#include <atomic>

struct CLiveSettings
{
    // Values before the stored row is loaded.
    std::atomic<int> autorun{SystemDefault::kAutorun};
    std::atomic<int> clienttip{SystemDefault::kClientTip};
    std::atomic<int> reflashtime{SystemDefault::kReflashTime};
    std::atomic<int> sendsteptime{SystemDefault::kSendStepTime};
    std::atomic<int> guesttip{SystemDefault::kGuestTip};
    std::atomic<int> playsound{SystemDefault::kPlaySound};
    // 1 while the greeting sender thread runs: visits queue greetings only then.
    std::atomic<int> greetingRunning{0};
};

CLiveSettings& LiveSettings();
