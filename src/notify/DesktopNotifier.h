#pragma once
// Desktop notifications (org.freedesktop.Notifications over the session
// D-Bus) for desktops without a notification area. Each new notification
// replaces the previous one, as a balloon's new text replaces the old. Calls
// are asynchronous; no bus or no daemon means the text is dropped.
// Window's thread.
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

class CDesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit CDesktopNotifier(QObject* parent = nullptr);

    // True when the request went out on the bus.
    bool Notify(const QString& title, const QString& body, int timeoutMs);
    static bool BusAvailable();
    // Id the daemon gave the last notification; 0 before the first answer.
    uint LastId() const { return m_lastId; }

private:
    uint m_lastId = 0;
    bool m_bodyMarkup = false;
};
