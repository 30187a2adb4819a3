#pragma once
// The system settings row ([sysseting], id 1): its reading, its update
// statement, the interval limits, and the hand-over of the values to the
// live settings the worker threads read. Window's thread only.
#include <QString>

constexpr int kRefreshMin = 20;
constexpr int kRefreshMax = 1000;
constexpr int kRefreshDefault = 30;
constexpr int kSendMin = 5;
constexpr int kSendMax = 100;
constexpr int kSendDefault = 6;

struct CSystemSettings
{
    // Values before the stored row is loaded.
    int autorun = 0;
    int clienttip = 0;
    int reflashtime = kRefreshDefault;
    int sendsteptime = kSendDefault;
    int guesttip = 1;
    int playsound = 1;
};

// Raises intervals below their minimum; larger values are kept.
void RaiseToMinimum(CSystemSettings& settings);

// Reads the row into settings (intervals raised to their minimum); false,
// settings untouched, when the row cannot be read.
bool ReadSystemSettings(CSystemSettings& settings);

QString SaveSystemSettingsSql(const CSystemSettings& settings);
// False when the statement failed.
bool WriteSystemSettings(const CSystemSettings& settings);

// Makes the values the ones every thread reads (LiveSettings()), intervals
// raised to their minimum.
void PublishLiveSettings(const CSystemSettings& settings);
// The values every thread reads now, as a row to store.
CSystemSettings LiveSystemSettings();
