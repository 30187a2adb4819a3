#pragma once
// The owner's advanced alert and greeting settings: the [advsetting] row
// (id 1), its reading and writing, and the one live copy the monitoring
// thread reads at the moment of use. The dialog writes the copy on the
// window's thread; any thread may read it. Every switch is off by default.
#include <QString>
#include <QStringList>

struct CAdvancedSettings
{
    static constexpr int kMinutesPerDay = 24 * 60;
    static constexpr int kBudgetMax = 9999;
    static constexpr int kDaysMax = 365;
    static constexpr int kKeepDaysMin = 30;
    static constexpr int kKeepDaysMax = 3650;

    // Quiet hours: from-to in minutes after midnight; from > to spans midnight.
    bool quietHours = false;
    int quietFrom = 23 * 60;
    int quietTo = 8 * 60;
    // One balloon for a poll that brings many new visitors of a shop.
    bool bursts = false;
    // At most this many greetings sent per shop and day.
    bool dailyBudget = false;
    int budget = 50;
    // One greeting per visitor across all shops within that many days.
    bool oncePerPerson = false;
    int onceDays = 7;
    // Visitor names whose visits always alert; empty: none.
    QStringList watchList{};
    // Visits older than this many days are deleted automatically; 0: kept until the owner deletes them.
    int keepDays = 0;

    bool operator==(const CAdvancedSettings&) const = default;

    // Clamps the numbers into their ranges; drops blank and repeated names.
    void Normalise();
    // The watch-list as the owner writes it: one name a line.
    static QStringList ParseWatchList(const QString& text);
    bool IsWatched(const QString& visitor) const;
};

// False (settings untouched) when the row cannot be read.
bool ReadAdvancedSettings(CAdvancedSettings& settings);
// False when the update failed or changed no row.
bool WriteAdvancedSettings(const CAdvancedSettings& settings);

// The copy every thread reads.
CAdvancedSettings CurrentAdvancedSettings();
void PublishAdvancedSettings(const CAdvancedSettings& settings);
// Reads the stored row into the live copy (at start-up); false when unreadable (the copy keeps its values).
bool LoadAdvancedSettings();
