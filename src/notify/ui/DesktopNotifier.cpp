#include "notify/ui/DesktopNotifier.h"

#include "controls/ui/OutsideText.h"

#include "platform/MessageBox.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {
constexpr auto kService = "org.freedesktop.Notifications";
constexpr auto kPath = "/org/freedesktop/Notifications";
constexpr auto kInterface = "org.freedesktop.Notifications";
} // namespace

CDesktopNotifier::CDesktopNotifier(QObject* parent) : QObject(parent)
{
    if (!BusAvailable())
        return;
    QDBusConnection::sessionBus().connect(QLatin1String(kService), QLatin1String(kPath), QLatin1String(kInterface),
                                          QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
    // Servers that read markup would swallow '<' and '&' in visitor texts.
    QDBusMessage ask = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                      QLatin1String(kInterface), QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        QDBusPendingReply<QStringList> reply = *call;
        if (!reply.isError())
            m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
        call->deleteLater();
    });
}

bool CDesktopNotifier::BusAvailable()
{
    return QDBusConnection::sessionBus().isConnected();
}

void CDesktopNotifier::OnActionInvoked(uint id, const QString& key)
{
    // Other programs' notifications report on the same bus.
    if (id != 0 && id == m_lastId)
        Q_EMIT ActionInvoked(key);
}

bool CDesktopNotifier::Notify(const QString& title, const QString& body, int timeoutMs, const QStringList& actions)
{
    if (!BusAvailable())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kInterface), QStringLiteral("Notify"));
    call << AppTitle() << m_lastId << QString() << title << (m_bodyMarkup ? TextAsMarkup(body) : body) << actions
         << QVariantMap() << timeoutMs;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* pending) {
        QDBusPendingReply<uint> reply = *pending;
        if (!reply.isError())
            m_lastId = reply.value();
        pending->deleteLater();
    });
    return true;
}
