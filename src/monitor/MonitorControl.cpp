#include "monitor/MonitorControl.h"

#include "accounts/LiveSettings.h"
#include "accounts/WorkerSlot.h"
#include "greet/AutoSendMsgThread.h"
#include "monitor/FlashOnlineClientThread.h"
#include "monitor/MonitorClientThread.h"
#include "tables/GreetingQueue.h"

CMonitorControl* g_pMonitorControl = nullptr;

CMonitorControl::CMonitorControl(QObject* parent) : QObject(parent)
{
    LiveSettings().greetingRunning = 0;
    m_monitoring = new CWorkerSlot(
        [] {
            auto* monitor = new CMonitorClientThread();
            auto* presence = new CFlashOnlineClientThread();
            return QList<CWorkerSlot::CWorker>{{monitor, &monitor->m_stop}, {presence, &presence->m_stop}};
        },
        this);
    // Also waits for a poll some earlier owner left running.
    m_monitoring->SetReadyCheck([] { return CMonitorClientThread::LiveCount() == 0; });
    m_greeting = new CWorkerSlot(
        [] {
            auto* sender = new CAutoSendMsgThread();
            return QList<CWorkerSlot::CWorker>{{sender, &sender->m_stop}};
        },
        this);
    connect(m_greeting, &CWorkerSlot::Started, this, [] { LiveSettings().greetingRunning = 1; });
    connect(m_monitoring, &CWorkerSlot::EndedUnasked, this, [this] { Q_EMIT MonitoringChanged(false); });
    connect(m_greeting, &CWorkerSlot::EndedUnasked, this, [this] {
        LiveSettings().greetingRunning = 0;
        Q_EMIT GreetingEndedUnasked();
    });
    m_restartTimer.setObjectName(QStringLiteral("restartTimer"));
    connect(&m_restartTimer, &QTimer::timeout, this, &CMonitorControl::RestartMonitoring);
}

CMonitorControl::~CMonitorControl()
{
    m_restartTimer.stop();
    // The slots raise the flags of the running sets as they go.
    delete m_monitoring;
    delete m_greeting;
    LiveSettings().greetingRunning = 0;
    if (g_pMonitorControl == this)
        g_pMonitorControl = nullptr;
}

bool CMonitorControl::IsMonitoring() const
{
    return m_monitoring->IsRunning();
}

bool CMonitorControl::IsGreetingRunning() const
{
    return m_greeting->IsRunning();
}

void CMonitorControl::StartMonitoring()
{
    if (m_monitoring->IsRunning())
        return;
    m_monitoring->Start();
    Q_EMIT MonitoringChanged(true);
}

void CMonitorControl::StopMonitoring()
{
    if (!m_monitoring->IsRunning())
        return;
    m_monitoring->Stop();
    Q_EMIT MonitoringChanged(false);
}

void CMonitorControl::StartGreeting()
{
    m_greeting->Start();
}

void CMonitorControl::StopGreeting()
{
    m_greeting->Stop();
    LiveSettings().greetingRunning = 0;
    CGreetingQueue::ClearWhenSenderStops();
}

void CMonitorControl::StartRestartTimer()
{
    m_restartTimer.start(kRestartIntervalMs);
}

void CMonitorControl::RestartMonitoring()
{
    StopMonitoring();
    StartMonitoring();
}
