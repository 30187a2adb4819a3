#include "monitor/ui/CardImageFetchThread.h"

#include "net/AbortScope.h"
#include "net/WinHttpEx.h"
#include "platform/Workers.h"

CCardImageFetchThread::CCardImageFetchThread(const QStringList& urls, QObject* parent) : QThread(parent), m_urls(urls)
{
}

void CCardImageFetchThread::run()
{
    try {
        CWorkerScope scope(this, &m_stop);
        CAbortScope abort(&m_stop);
        for (const QString& url : std::as_const(m_urls)) {
            if (m_stop.load() != 0)
                break;
            QByteArray bytes;
            bool ok = false;
            {
                CWinHttpEx http;
                ok = http.Get(url, bytes);
            }
            if (m_stop.load() != 0)
                break;
            Q_EMIT ImageFetched(url, ok ? bytes : QByteArray(), ok);
        }
    } catch (...) {
        // A picture that does not come leaves its place empty; nothing leaves the thread.
    }
}
