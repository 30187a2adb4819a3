#include "monitor/ui/ChatLaunchThread.h"

#include "platform/Workers.h"

CChatLaunchThread::CChatLaunchThread(const CLaunchRequest& request, QObject* parent)
    : QThread(parent), m_request(request)
{
}

void CChatLaunchThread::run()
{
    bool started = false;
    try {
        CWorkerScope scope(this, &m_stop);
        started = Launch(m_request);
    } catch (...) {
        started = false;
    }
    try {
        Q_EMIT LaunchFinished(started);
    } catch (...) {
        // Nobody to tell; nothing leaves the thread.
    }
}
