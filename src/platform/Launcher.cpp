#include "platform/Launcher.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <mutex>

namespace {

std::mutex g_launchMutex;
LaunchHandler g_launchHandler;

bool LaunchProcess(const CLaunchRequest& request)
{
    if (request.waitMs <= 0) {
        QProcess process;
        process.setProgram(request.program);
        process.setArguments(request.arguments);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        return process.startDetached();
    }
    QProcess process;
    if (request.hidden)
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(request.program, request.arguments);
    if (!process.waitForStarted(5000))
        return false;
    // In short steps, so a stopping thread does not sit out the whole wait.
    QDeadlineTimer deadline(request.waitMs);
    bool finished = false;
    while (!finished && !deadline.hasExpired() && !(request.stopRequested && request.stopRequested()))
        finished = process.waitForFinished(int(qMin<qint64>(200, qMax<qint64>(1, deadline.remainingTime()))));
    if (!finished) {
        process.kill();
        process.waitForFinished(1000);
    }
    return true;
}

} // namespace

bool Launch(const CLaunchRequest& request)
{
    LaunchHandler handler;
    {
        std::lock_guard lock(g_launchMutex);
        handler = g_launchHandler;
    }
    return handler ? handler(request) : LaunchProcess(request);
}

LaunchHandler SetLaunchHandler(LaunchHandler handler)
{
    std::lock_guard lock(g_launchMutex);
    std::swap(g_launchHandler, handler);
    return handler;
}

bool OpenWithDesktop(const QString& address, bool hidden, int waitMs, std::function<bool()> stopRequested)
{
    return Launch({QStringLiteral("xdg-open"), {address}, hidden, waitMs, std::move(stopRequested)});
}
