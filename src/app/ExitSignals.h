#pragma once
// SIGTERM and SIGHUP (a session ending, kill, a service manager) end the
// program the way 退出 does. The handler only writes the signal's number to a
// pipe, which is all a handler may safely do; the window's thread reads it
// through a socket notifier and asks for the exit there. Window's thread;
// one per process, owned by main().
#include <QObject>

#include <memory>

class QSocketNotifier;

class CExitSignals : public QObject
{
    Q_OBJECT
public:
    explicit CExitSignals(QObject* parent = nullptr);
    // The default actions come back.
    ~CExitSignals() override;

    // False (with a log line) when the pipe or a handler cannot be set up.
    bool Install();

    static const char* SignalName(int signalNumber);

Q_SIGNALS:
    void ExitRequested(int signalNumber);

private:
    void OnReadable();

    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
};
