#include "app/PageFetchThread.h"

#include "net/AbortScope.h"
#include "net/HttpText.h"
#include "platform/Workers.h"

CPageFetchThread::CPageFetchThread(const QString& url) : m_url(url) {}

void CPageFetchThread::run()
{
    try {
        CWorkerScope scope(this, &m_stop);
        CAbortScope abort(&m_stop);
        QString text;
        const bool ok = FetchText(m_url, text);
        if (!m_stop.load())
            Q_EMIT Fetched(ok, text);
    } catch (...) {
        // A failed fetch shows as an unreachable page; nothing leaves the thread.
    }
}
