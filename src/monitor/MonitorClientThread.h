#pragma once
// The monitoring worker: reads the accounts once, then polls them one after
// the other (RefreshShop), pausing five seconds after each account and the
// live polling interval after each cycle, until its stop flag is raised.
// Started and stopped by the configuration page, which never waits for it;
// it deletes itself when finished (the starter connects finished to
// deleteLater). A stop also aborts the HTTP request in flight.
#include <QString>
#include <QThread>

#include <atomic>
#include <vector>

class CMonitorClientThread : public QThread
{
    Q_OBJECT
public:
    // One account to poll, copied from [user] when the thread starts.
    struct _CUserInfo
    {
        QString webId;
        QString account;
        QString imName;
        QString autoGreet; // "1" or "0"
        QString greeting;
    };

    explicit CMonitorClientThread(QObject* parent = nullptr);
    ~CMonitorClientThread() override;

    // Set to 1 by the owner to end the thread; read fresh at every check.
    std::atomic<int> m_stop{0};

    // How many monitoring threads exist that have not yet ended their run()
    // (a thread created but never started counts until it is destroyed). A
    // restart waits, without blocking the window, until this is 0, so two
    // polls never overlap.
    static int LiveCount();

    // The accounts of [user] in id order, rows whose fetches fail left out.
    static std::vector<_CUserInfo> ReadAccounts();

protected:
    void run() override;

private:
    void ReleaseLiveCount();

    std::vector<_CUserInfo> m_accounts;
    std::atomic<bool> m_counted{true};
};
