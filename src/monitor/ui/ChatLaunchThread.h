#pragma once
// Hands one chat link to the desktop's link handler and waits (at most the
// request's time) for the handler to end, off the window's thread so the
// window stays live meanwhile. Registered for exit; deleted when finished by
// whoever starts it. Whether the start worked arrives as a queued signal.
#include "platform/Launcher.h"

#include <QThread>

#include <atomic>

class CChatLaunchThread : public QThread
{
    Q_OBJECT
public:
    explicit CChatLaunchThread(const CLaunchRequest& request, QObject* parent = nullptr);

    // Only for the bounded stop at exit: a started handler is waited for regardless.
    std::atomic<int> m_stop{0};

Q_SIGNALS:
    void LaunchFinished(bool started);

protected:
    void run() override;

private:
    CLaunchRequest m_request;
};
