#pragma once
// Starts other programs (xdg-open for links and addresses). Replaceable so
// tests can see what would have been started without starting it.
#include <QString>
#include <QStringList>

#include <functional>

struct CLaunchRequest
{
    QString program;
    QStringList arguments;
    // Hidden: output discarded, no window of ours asked for.
    bool hidden = false;
    // > 0: wait at most this long, then end the process if still running.
    int waitMs = 0;
    // Looked at during the wait; true ends the process and the wait at once.
    std::function<bool()> stopRequested;
};

using LaunchHandler = std::function<bool(const CLaunchRequest& request)>;

// True when the program started.
bool Launch(const CLaunchRequest& request);
LaunchHandler SetLaunchHandler(LaunchHandler handler);
// Opens a link or address with the desktop's handler: xdg-open.
bool OpenWithDesktop(const QString& address, bool hidden, int waitMs, std::function<bool()> stopRequested = {});
