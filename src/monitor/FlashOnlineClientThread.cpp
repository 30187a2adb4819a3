#include "monitor/FlashOnlineClientThread.h"

#include "monitor/VisitorListBridge.h"
#include "net/HttpText.h"
#include "net/WinHttpEx.h"
#include "platform/AbortScope.h"
#include "platform/Endpoints.h"
#include "platform/TextCodec.h"
#include "platform/Workers.h"

#include <mutex>

namespace {

constexpr int kFirstDelaySeconds = 5;
constexpr int kCycleSeconds = 10;

const QString kOnlineMarker = QStringLiteral("\":{online:\"");
const QString kValueEnd = QStringLiteral("\",");

} // namespace

QString PresenceRequestUrl(const QString& idList)
{
    // The IDs come percent-encoded, comma after each; the other values never change.
    return Endpoints().imPresenceBase + QStringLiteral("/imstate/?callback=IM_STATUS_CALLBACK&type=json&uids=") +
           idList + QStringLiteral("&.tmp=0.14664018889353225");
}

QStringList ParsePresenceReply(const QString& reply, const QStringList& names)
{
    QStringList online;
    qsizetype entry = 0;
    qsizetype marker = reply.indexOf(kOnlineMarker);
    while (marker >= 0) {
        const qsizetype valueStart = marker + kOnlineMarker.size();
        if (valueStart > reply.size())
            break;
        const qsizetype valueEnd = reply.indexOf(kValueEnd, valueStart);
        if (valueEnd < 0)
            break;
        if (valueEnd > valueStart && reply.at(valueStart) == QLatin1Char('1')) {
            // More entries than names: what was found so far stands.
            if (entry >= names.size())
                break;
            online.append(names.at(entry));
        }
        ++entry;
        marker = reply.indexOf(kOnlineMarker, valueEnd);
    }
    return online;
}

QStringList QueryOnlineUsers(const QString& idList, const QStringList& names)
{
    QByteArray body;
    {
        CWinHttpEx http;
        if (!http.Get(PresenceRequestUrl(idList), body))
            return {};
    }
    return ParsePresenceReply(AnsiToUnicode(body), names);
}

CFlashOnlineClientThread::CFlashOnlineClientThread(QObject* parent) : QThread(parent) {}

CFlashOnlineClientThread::~CFlashOnlineClientThread() = default;

void CFlashOnlineClientThread::run()
{
    CWorkerScope scope(this, &m_stop);
    CAbortScope abort(&m_stop);
    try {
        if (!PauseUnlessStopped(m_stop, kFirstDelaySeconds))
            return;
        while (m_stop.load() == 0) {
            IVisitorListBridge* bridge = VisitorListBridge();
            QStringList names;
            QStringList ids;
            if (bridge) {
                CPresenceLists& lists = bridge->PresenceLists();
                std::lock_guard lock(lists.lock);
                names = lists.names;
                ids = lists.imIds;
            }
            QString idList;
            for (const QString& id : ids)
                idList += ToPlainQueryValue(id) + QLatin1Char(',');

            const QStringList online = QueryOnlineUsers(idList, names);
            // An aborted request says nothing about who is online.
            if (m_stop.load() != 0)
                break;
            if (bridge) {
                {
                    CPresenceLists& lists = bridge->PresenceLists();
                    std::lock_guard lock(lists.lock);
                    lists.onlineNames.clear();
                    lists.onlineNames.append(online);
                }
                bridge->RequestMarkOnline();
            }
            if (!PauseUnlessStopped(m_stop, kCycleSeconds))
                break;
        }
    } catch (...) {
        LogWorkerException(this);
        // Presence marks are a convenience; a failure only leaves them stale.
    }
}
