#pragma once
// The start-up check of the accounts' state with the tracking service, run
// off the window's thread so a slow or absent service never freezes it; its
// warning (if any) is shown when the requests end. Self-deleting once the
// starter connects finished to deleteLater; a raised stop flag aborts the
// requests in progress.
#include <QThread>

#include <atomic>

class CAccountStateCheckThread : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;
    std::atomic<int> m_stop{0};

protected:
    void run() override;
};
