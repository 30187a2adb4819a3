#pragma once
// The live system settings and the greeting thread's running state. The
// configuration page writes them on the window's thread; the monitoring,
// greeting and alert code read them at the moment of use from any thread.
// Each is one atomic 32-bit value, so a change takes effect at once.
#include <atomic>

struct CLiveSettings
{
    // Values before the stored row is loaded.
    std::atomic<int> autorun{0};
    std::atomic<int> clienttip{0};
    std::atomic<int> reflashtime{30};
    std::atomic<int> sendsteptime{6};
    std::atomic<int> guesttip{1};
    std::atomic<int> playsound{1};
    // 1 while the greeting sender thread runs: visits queue greetings only then.
    std::atomic<int> greetingRunning{0};
};

CLiveSettings& LiveSettings();
