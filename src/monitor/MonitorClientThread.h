#pragma once
// The monitoring worker: reads the accounts once, then polls them one after
// the other (RefreshShop), pausing five seconds after each account and the
// live polling interval after each cycle, until its stop flag is raised.
// Started and stopped by the configuration page, which never waits for it;
// it deletes itself when finished (the starter connects finished to
// deleteLater). A stop also aborts the HTTP request in flight.
#include "tables/AccountTable.h"

#include <QList>
#include <QThread>

#include <atomic>

class CMonitorClientThread : public QThread
{
    Q_OBJECT
public:
    // One account to poll, copied from [user] when the thread starts.
    using _CUserInfo = CAccount;

    explicit CMonitorClientThread(QObject* parent = nullptr);
    ~CMonitorClientThread() override;

    // Set to 1 by the owner to end the thread; read fresh at every check.
    std::atomic<int> m_stop{0};

    // How many monitoring threads exist that have not yet ended their run()
    // (a thread created but never started counts until it is destroyed). A
    // restart waits, without blocking the window, until this is 0, so two
    // polls never overlap.
    static int LiveCount();

protected:
    void run() override;

private:
    void ReleaseLiveCount();

    QList<_CUserInfo> m_accounts;
    std::atomic<bool> m_counted{true};
};
