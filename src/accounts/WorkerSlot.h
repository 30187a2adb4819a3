#pragma once
// One restartable set of self-deleting worker threads (monitoring with
// presence, or the greeting sender), owned by the configuration page on the
// window's thread. Stop raises the stop flags and forgets the threads without
// waiting. Start creates a new set only once the previous set has ended: until
// then it is pending, and a timer looks again, so the window never waits and
// two sets never overlap.
#include <QList>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

class CWorkerSlot : public QObject
{
    Q_OBJECT
public:
    struct CWorker
    {
        QThread* thread = nullptr;
        std::atomic<int>* stopFlag = nullptr;
    };
    // Creates the threads, not yet started.
    using Factory = std::function<QList<CWorker>()>;

    explicit CWorkerSlot(Factory factory, QObject* parent = nullptr);
    // Raises the stop flags of the running set; does not wait.
    ~CWorkerSlot() override;

    // Running or waiting to start.
    bool IsRunning() const { return m_running; }
    bool IsStartPending() const { return m_running && m_current.isEmpty(); }
    // Threads of the previous sets still finishing.
    int EndingCount() const;

    void Start();
    void Stop();
    // A further condition a start waits for (threads of the same kind that
    // this slot did not start, for instance).
    void SetReadyCheck(std::function<bool()> ready) { m_ready = std::move(ready); }

    // How often a pending start looks at the previous set (ms).
    static constexpr int kPollMs = 50;
    // How often the running set is looked at for a thread that ended unasked (ms).
    static constexpr int kWatchMs = 500;

Q_SIGNALS:
    // The new set's threads have been started.
    void Started();
    // A thread of the running set ended without a stop: the set is stopped now.
    void EndedUnasked();

private:
    struct CTracked
    {
        QPointer<QThread> thread;
        std::atomic<int>* stopFlag = nullptr;
    };
    void TryStart();
    void CheckRunningSet();
    static bool Ended(const CTracked& worker);

    Factory m_factory;
    std::function<bool()> m_ready;
    bool m_running = false;
    QList<CTracked> m_current;
    QList<CTracked> m_ending;
    QTimer m_pollTimer;
    QTimer m_watchTimer;
};
