#include "app/ExitSignals.h"

#include "platform/Log.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kExitSignals[] = {SIGTERM, SIGHUP};

// Written by the handler, read by the window's thread.
int g_pipe[2] = {-1, -1};

extern "C" void OnExitSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // A full pipe means an exit is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
    errno = savedErrno;
}

} // namespace

CExitSignals::CExitSignals(QObject* parent) : QObject(parent) {}

CExitSignals::~CExitSignals()
{
    if (!m_installed)
        return;
    for (const int signalNumber : kExitSignals)
        std::signal(signalNumber, SIG_DFL);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

const char* CExitSignals::SignalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    }
    return "a signal";
}

bool CExitSignals::Install()
{
    if (m_installed)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(LogUi).noquote() << "SIGTERM and SIGHUP will end the program at once: no pipe -"
                                   << QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CExitSignals::OnReadable);
    m_installed = true;
    struct sigaction action
    {
    };
    action.sa_handler = &OnExitSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on, as if nothing had come.
    action.sa_flags = SA_RESTART;
    bool all = true;
    for (const int signalNumber : kExitSignals) {
        if (::sigaction(signalNumber, &action, nullptr) != 0) {
            qCWarning(LogUi) << "no handler for" << SignalName(signalNumber) << "-" << std::strerror(errno);
            all = false;
        }
    }
    return all;
}

void CExitSignals::OnReadable()
{
    unsigned char number = 0;
    int last = 0;
    while (::read(g_pipe[0], &number, 1) == 1)
        last = number;
    if (last != 0)
        Q_EMIT ExitRequested(last);
}
