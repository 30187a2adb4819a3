#pragma once
// The program's log: one category per subsystem, written to stderr and to
// mirelhelper.log in the data directory (kept to 1 MiB, three older files
// beside it as .1 .. .3). Any thread. Never log a password or a greeting's text:
// addresses go through RedactUrl first.
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(LogStore)
Q_DECLARE_LOGGING_CATEGORY(LogNet)
Q_DECLARE_LOGGING_CATEGORY(LogMonitor)
Q_DECLARE_LOGGING_CATEGORY(LogGreet)
Q_DECLARE_LOGGING_CATEGORY(LogIploc)
Q_DECLARE_LOGGING_CATEGORY(LogUi)
Q_DECLARE_LOGGING_CATEGORY(LogStats)

constexpr qint64 kLogFileLimit = 1 << 20;
constexpr int kLogOldFiles = 3;

// Sends every message to stderr and to dataDir + "/mirelhelper.log" from now on;
// the file is rotated when it would grow beyond fileLimit bytes.
void InstallLog(const QString& dataDir, qint64 fileLimit = kLogFileLimit);
// Back to Qt's own handler; the file is closed.
void UninstallLog();
QString LogFilePath();

// The address with the value of every password-like query item replaced by "***".
QString RedactUrl(const QString& url);
