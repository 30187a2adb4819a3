#include "notify/StatusMessage.h"

#include <QThread>

CStatusMessage::CStatusMessage(QObject* parent) : QObject(parent), m_showTimer(this), m_clearTimer(this)
{
    m_showTimer.setSingleShot(true);
    m_clearTimer.setSingleShot(true);
    m_showTimer.setInterval(kShowDelayMs);
    m_clearTimer.setInterval(kClearDelayMs);
    connect(&m_showTimer, &QTimer::timeout, this, [this] { OnTimer(kShowTimerId); });
    connect(&m_clearTimer, &QTimer::timeout, this, [this] { OnTimer(kClearTimerId); });
}

void CStatusMessage::Post(const QString& text)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = text;
    }
    if (QThread::currentThread() == thread())
        ArmShow();
    else
        QMetaObject::invokeMethod(this, &CStatusMessage::ArmShow, Qt::QueuedConnection);
}

QString CStatusMessage::Pending() const
{
    std::lock_guard lock(m_mutex);
    return m_pending;
}

void CStatusMessage::SetIntervals(int showMs, int clearMs)
{
    m_showTimer.setInterval(showMs);
    m_clearTimer.setInterval(clearMs);
}

void CStatusMessage::ArmShow()
{
    // A clear still pending from the previous text must not wipe the new one
    // in the moment before it is shown.
    m_clearTimer.stop();
    m_showTimer.start();
}

void CStatusMessage::OnTimer(int id)
{
    if (id == kShowTimerId) {
        m_showTimer.stop();
        m_shown = Pending();
        Q_EMIT Display(m_shown);
        m_clearTimer.start();
    } else if (id == kClearTimerId) {
        m_clearTimer.stop();
        {
            std::lock_guard lock(m_mutex);
            m_pending.clear();
        }
        m_shown.clear();
        Q_EMIT Display(QString());
    }
}
