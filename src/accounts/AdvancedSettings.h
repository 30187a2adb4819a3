#pragma once
// The one live copy of the owner's advanced alert and greeting settings, which
// the monitoring thread reads at the moment of use. The dialog writes the copy
// on the window's thread; any thread may read it. The row itself is
// CSettingsTable's.
#include "tables/Settings.h"

// The copy every thread reads.
CAdvancedSettings CurrentAdvancedSettings();
void PublishAdvancedSettings(const CAdvancedSettings& settings);
// Reads the stored row into the live copy (at start-up); false when unreadable (the copy keeps its values).
bool LoadAdvancedSettings();
