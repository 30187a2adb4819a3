#pragma once
// Desktop notifications (org.freedesktop.Notifications over the session
// D-Bus) for desktops without a notification area. Each new notification
// replaces the previous one, as a balloon's new text replaces the old. Calls
// are asynchronous; no bus or no daemon means the text is dropped.
// Window's thread.
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusPendingCallWatcher;

class CDesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit CDesktopNotifier(QObject* parent = nullptr);

    // True when the request went out on the bus. actions: key, label, key, label...
    bool Notify(const QString& title, const QString& body, int timeoutMs, const QStringList& actions = {});
    static bool BusAvailable();
    // Id the daemon gave the last notification; 0 before the first answer.
    uint LastId() const { return m_lastId; }

Q_SIGNALS:
    // The owner chose an action of our latest notification.
    void ActionInvoked(const QString& key);

private Q_SLOTS:
    void OnActionInvoked(uint id, const QString& key);

private:
    uint m_lastId = 0;
    bool m_bodyMarkup = false;
};
