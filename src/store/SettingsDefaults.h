#pragma once
// What the settings rows hold before the owner saves any: the values a store
// makes its [sysseting] and [advsetting] rows with, and the values the program
// works with until it has read them. The one place they are written; the store
// makes the rows from them, the settings start from them.

namespace SystemDefault {
constexpr int kAutorun = 0;
// Off until the stored row is read; a new store turns it on (a new owner hears every visitor).
constexpr int kClientTip = 0;
constexpr int kNewStoreClientTip = 1;
constexpr int kReflashTime = 30;
constexpr int kSendStepTime = 6;
constexpr int kGuestTip = 1;
constexpr int kPlaySound = 1;
// Written by every save, read by nobody.
constexpr const char* kAutoSendName = "NULL";
constexpr int kHiEdition = 0;
} // namespace SystemDefault

// Every switch starts off, so a store upgraded or made today behaves as before until the owner opts in.
namespace AdvancedDefault {
constexpr int kQuietFrom = 23 * 60;
constexpr int kQuietTo = 8 * 60;
constexpr int kBudget = 50;
constexpr int kOnceDays = 7;
constexpr int kKeepDays = 0;
} // namespace AdvancedDefault
