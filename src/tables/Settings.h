#pragma once
// The settings the owner edits, as values: the system settings ([sysseting])
// with their limits, and the advanced alert and greeting settings
// ([advsetting]). Plain values, any thread; CSettingsTable stores them.
#include "store/SettingsDefaults.h"

#include <QString>
#include <QStringList>

constexpr int kRefreshMin = 20;
constexpr int kRefreshMax = 1000;
constexpr int kRefreshDefault = SystemDefault::kReflashTime;
constexpr int kSendMin = 5;
constexpr int kSendMax = 100;
constexpr int kSendDefault = SystemDefault::kSendStepTime;

struct CSystemSettings
{
    // Values before the stored row is loaded.
    int autorun = SystemDefault::kAutorun;
    int clienttip = SystemDefault::kClientTip;
    int reflashtime = SystemDefault::kReflashTime;
    int sendsteptime = SystemDefault::kSendStepTime;
    int guesttip = SystemDefault::kGuestTip;
    int playsound = SystemDefault::kPlaySound;

    bool operator==(const CSystemSettings&) const = default;
};

// Raises intervals below their minimum; larger values are kept.
void RaiseToMinimum(CSystemSettings& settings);

struct CAdvancedSettings
{
    static constexpr int kMinutesPerDay = 24 * 60;
    static constexpr int kBudgetMax = 9999;
    static constexpr int kDaysMax = 365;
    static constexpr int kKeepDaysMin = 30;
    static constexpr int kKeepDaysMax = 3650;

    // Quiet hours: from-to in minutes after midnight; from > to spans midnight.
    bool quietHours = false;
    int quietFrom = AdvancedDefault::kQuietFrom;
    int quietTo = AdvancedDefault::kQuietTo;
    // One balloon for a poll that brings many new visitors of a shop.
    bool bursts = false;
    // At most this many greetings sent per shop and day.
    bool dailyBudget = false;
    int budget = AdvancedDefault::kBudget;
    // One greeting per visitor across all shops within that many days.
    bool oncePerPerson = false;
    int onceDays = AdvancedDefault::kOnceDays;
    // Visitor names whose visits always alert; empty: none.
    QStringList watchList{};
    // Visits older than this many days are deleted automatically; 0: kept until the owner deletes them.
    int keepDays = AdvancedDefault::kKeepDays;

    bool operator==(const CAdvancedSettings&) const = default;

    // Clamps the numbers into their ranges; drops blank and repeated names.
    void Normalise();
    // The watch-list as the owner writes it: one name a line.
    static QStringList ParseWatchList(const QString& text);
    bool IsWatched(const QString& visitor) const;
};
