#pragma once
// Test doubles for the monitoring code: a clock whose one-second sleeps take
// no real time, an owner notifier and a visitor-list bridge that record what
// the workers asked of the window.
#include "monitor/VisitorListBridge.h"
#include "notify/OwnerNotifier.h"
#include "platform/Clock.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// Simulated time: SleepMs advances it at once (after a token real pause so
// spinning threads leave the CPU to others), then calls the hook on the
// sleeping thread with the new time. Installs itself; restores the real
// clock when destroyed.
class CFastClock final : public IClock
{
public:
    explicit CFastClock(qint64 startMs = 1700000000000);
    ~CFastClock() override;
    CFastClock(const CFastClock&) = delete;
    CFastClock& operator=(const CFastClock&) = delete;

    void SleepMs(int ms) override;
    qint64 NowMs() override { return m_now.load(); }

    void Advance(qint64 ms) { m_now.fetch_add(ms); }
    void SetSleepHook(std::function<void(qint64 nowMs)> hook);

private:
    std::atomic<qint64> m_now;
    std::mutex m_hookMutex;
    std::function<void(qint64)> m_hook;
};

struct CRecordedText
{
    qint64 atMs; // the clock's time when it was sent
    QString text;
};

// Records status texts and alerts with the clock's time. Installs itself.
class CRecordingNotifier final : public IOwnerNotifier
{
public:
    CRecordingNotifier();
    ~CRecordingNotifier() override;

    void ShowStatusMessage(const QString& text) override;
    void AlertOwner(const QString& text) override;

    std::vector<CRecordedText> StatusTexts();
    std::vector<CRecordedText> Alerts();
    QStringList AlertTexts();
    QStringList StatusTextsOnly();
    void Clear();

    // Called on the sender's thread after a status text is recorded.
    std::function<void(const QString&)> onStatus;

private:
    std::mutex m_mutex;
    std::vector<CRecordedText> m_status;
    std::vector<CRecordedText> m_alerts;
};

// Counts the window requests; holds the presence lists and an IP reader of
// the test's choosing. Installs itself.
class CRecordingBridge final : public IVisitorListBridge
{
public:
    explicit CRecordingBridge(CIpLocator* reader = nullptr);
    ~CRecordingBridge() override;

    void RequestRefill() override { m_refills.fetch_add(1); }
    void RequestMarkOnline() override { m_markOnline.fetch_add(1); }
    CPresenceLists& PresenceLists() override { return m_lists; }
    CIpLocator* IpLocator() override { return m_reader; }

    int Refills() const { return m_refills.load(); }
    int MarkOnlineCount() const { return m_markOnline.load(); }
    QStringList OnlineNames();
    void SetVisitors(const QStringList& names, const QStringList& ids);

private:
    CIpLocator* m_reader;
    CPresenceLists m_lists;
    std::atomic<int> m_refills{0};
    std::atomic<int> m_markOnline{0};
};
