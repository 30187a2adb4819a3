#pragma once
// The data directory is the owner's alone: it holds passwords in clear
// (Info.mdb), a team URL that may carry one (mirelhelper.ini) and the log.
// The directory is kept 0700 and the files the program writes there 0600,
// whatever the umask; other files (exports) follow the umask. Any thread.
#include <QString>

#include <sys/types.h>

// Takes group's and others' access from the file (0644 becomes 0600, 0444
// 0400) when it exists; false (with a log line) when that fails.
bool KeepFilePrivate(const QString& path);
// Creates the directory (and its parents) when missing, the last one 0700.
bool MakePrivateDirectory(const QString& dir);
// Closes an existing data directory to other users (with a log line when it
// was open to them) and makes the program's files in it private.
void SecureDataDirectory(const QString& dir);
// Only the program's files in the directory (after the store or the
// settings may have created some).
void SecureDataFiles(const QString& dir);

// The process's umask, read without changing it.
mode_t CurrentUmask();
// The mode a new file gets from the umask (0666 without its bits).
mode_t UmaskFileMode();
