#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QThread>

bool WaitUntil(const std::function<bool()>& predicate, int timeoutMs, int stepMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (predicate())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, stepMs);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(static_cast<unsigned long>(stepMs));
    }
}
