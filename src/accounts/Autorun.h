#pragma once
// Starting with the desktop session: an XDG autostart entry named for the
// autorun value, whose Exec is the program's full path. Written only by a
// settings save; never read back. Window's thread.
#include <QString>

QString AutorunValueName();
// $XDG_CONFIG_HOME/autostart, else ~/.config/autostart (tests may point it elsewhere).
QString AutostartDirectory();
// Empty restores the default.
void SetAutostartDirectory(const QString& dir);
QString AutostartFilePath();

// The entry's text; empty when the path cannot stand in an Exec line.
QString AutostartEntryText(const QString& programPath);
// Writes the entry (on) or removes it (off). False when the folder or file
// could not be written or removed; callers treat that as nothing to report.
bool SetAutorunEntry(bool on, const QString& programPath);
