#include "support/MonitorFakes.h"

#include <chrono>
#include <thread>

CFastClock::CFastClock(qint64 startMs) : m_now(startMs)
{
    SetClock(this);
}

CFastClock::~CFastClock()
{
    SetClock(nullptr);
}

void CFastClock::SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    const qint64 now = m_now.fetch_add(ms) + ms;
    std::function<void(qint64)> hook;
    {
        std::lock_guard lock(m_hookMutex);
        hook = m_hook;
    }
    if (hook)
        hook(now);
}

void CFastClock::SetSleepHook(std::function<void(qint64)> hook)
{
    std::lock_guard lock(m_hookMutex);
    m_hook = std::move(hook);
}

CRecordingNotifier::CRecordingNotifier()
{
    SetOwnerNotifier(this);
}

CRecordingNotifier::~CRecordingNotifier()
{
    SetOwnerNotifier(nullptr);
}

void CRecordingNotifier::ShowStatusMessage(const QString& text)
{
    {
        std::lock_guard lock(m_mutex);
        m_status.push_back({Clock().NowMs(), text});
    }
    if (onStatus)
        onStatus(text);
}

void CRecordingNotifier::AlertOwner(const QString& text)
{
    std::lock_guard lock(m_mutex);
    m_alerts.push_back({Clock().NowMs(), text});
}

std::vector<CRecordedText> CRecordingNotifier::StatusTexts()
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

std::vector<CRecordedText> CRecordingNotifier::Alerts()
{
    std::lock_guard lock(m_mutex);
    return m_alerts;
}

QStringList CRecordingNotifier::AlertTexts()
{
    std::lock_guard lock(m_mutex);
    QStringList texts;
    for (const CRecordedText& alert : m_alerts)
        texts.append(alert.text);
    return texts;
}

QStringList CRecordingNotifier::StatusTextsOnly()
{
    std::lock_guard lock(m_mutex);
    QStringList texts;
    for (const CRecordedText& status : m_status)
        texts.append(status.text);
    return texts;
}

void CRecordingNotifier::Clear()
{
    std::lock_guard lock(m_mutex);
    m_status.clear();
    m_alerts.clear();
}

CRecordingBridge::CRecordingBridge(CIpLocator* reader) : m_reader(reader)
{
    SetVisitorListBridge(this);
}

CRecordingBridge::~CRecordingBridge()
{
    SetVisitorListBridge(nullptr);
}

QStringList CRecordingBridge::OnlineNames()
{
    std::lock_guard lock(m_lists.lock);
    return m_lists.onlineNames;
}

void CRecordingBridge::SetVisitors(const QStringList& names, const QStringList& ids)
{
    std::lock_guard lock(m_lists.lock);
    m_lists.names = names;
    m_lists.imIds = ids;
}
