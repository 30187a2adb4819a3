#pragma once
// The hand-over of the system settings to the live settings the worker
// threads read. Window's thread only; the row itself is CSettingsTable's.
#include "tables/Settings.h"

// Makes the values the ones every thread reads (LiveSettings()), intervals
// raised to their minimum.
void PublishLiveSettings(const CSystemSettings& settings);
// The values every thread reads now, as a row to store.
CSystemSettings LiveSystemSettings();
