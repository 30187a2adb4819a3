// rivuzovara-local: the local stand-in of the tracking service and of the IM
// service's web side, each on its own port.
#include "AdminAccess.h"
#include "ConnectionThreads.h"
#include "ImRoutes.h"
#include "TrackingRoutes.h"
#include "TrackingStore.h"

#include <httplib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include <pthread.h>
#include <sys/socket.h>

namespace {

struct SOptions
{
    std::string dataDir;
    int trackingPort = 8780;
    int imPort = 8781;
    std::string bind = "127.0.0.1";
    std::string accessLog;
    // Test-only (not in the usage text): a shorter WaitInfo wait.
    int waitSeconds = 25;
};

// Enough for many desktop programs' waiting requests beside the shoppers.
constexpr size_t kMaxTrackingThreads = 512;

void Usage()
{
    std::fprintf(stderr, "usage: rivuzovara-local --data DIR [--tracking-port N] [--im-port N] [--bind ADDRESS]\n"
                         "                        [--access-log FILE]\n"
                         "  a port of 0 picks a free one; the chosen ports are printed\n");
}

bool ParseNumber(const char* text, long min, long max, int& number)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!end || *end != '\0' || end == text || value < min || value > max)
        return false;
    number = static_cast<int>(value);
    return true;
}

bool ParsePort(const char* text, int& port)
{
    return ParseNumber(text, 0, 65535, port);
}

bool ParseArgs(int argc, char** argv, SOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return false;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "rivuzovara-local: %s needs a value\n", arg.c_str());
            return false;
        }
        const char* value = argv[++i];
        if (arg == "--data") {
            options.dataDir = value;
        } else if (arg == "--tracking-port") {
            if (!ParsePort(value, options.trackingPort))
                return false;
        } else if (arg == "--im-port") {
            if (!ParsePort(value, options.imPort))
                return false;
        } else if (arg == "--bind") {
            options.bind = value;
        } else if (arg == "--access-log") {
            options.accessLog = value;
        } else if (arg == "--test-wait-seconds") {
            if (!ParseNumber(value, 1, 3600, options.waitSeconds))
                return false;
        } else {
            std::fprintf(stderr, "rivuzovara-local: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    return !options.dataDir.empty();
}

// Binds the server; port 0 picks a free one. Returns the port or -1.
int Bind(httplib::Server& server, const std::string& address, int port)
{
    if (port == 0)
        return server.bind_to_any_port(address);
    return server.bind_to_port(address, port) ? port : -1;
}

// One line per request answered, for benchmarks that count who asked what:
// "YYYY-MM-DD hh:mm:ss.mmm <side> <status> <path>?<query>", password-like values as "***".
class CAccessLog
{
public:
    ~CAccessLog()
    {
        if (m_file)
            std::fclose(m_file);
    }
    bool Open(const std::string& path)
    {
        m_file = std::fopen(path.c_str(), "a");
        return m_file != nullptr;
    }
    void Attach(httplib::Server& server, const char* side)
    {
        if (!m_file)
            return;
        server.set_logger([this, side](const httplib::Request& req, const httplib::Response& res) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            tm local{};
            localtime_r(&now.tv_sec, &local);
            char when[32];
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
            std::string query;
            for (const auto& [name, value] : req.params)
                query += (query.empty() ? "?" : "&") + name + "=" +
                         (IsSecretName(name) ? std::string("***") : httplib::detail::encode_query_param(value));
            const std::lock_guard<std::mutex> hold(m_lock);
            std::fprintf(m_file, "%s.%03ld %s %d %s%s\n", when, now.tv_nsec / 1000000, side, res.status,
                         req.path.c_str(), query.c_str());
            std::fflush(m_file);
        });
    }

private:
    std::FILE* m_file = nullptr;
    std::mutex m_lock;
};

std::string HostForUrl(const std::string& address)
{
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

} // namespace

int main(int argc, char** argv)
{
    SOptions options;
    if (!ParseArgs(argc, argv, options)) {
        Usage();
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(options.dataDir, ec);
    if (ec) {
        std::fprintf(stderr, "rivuzovara-local: cannot create %s: %s\n", options.dataDir.c_str(), ec.message().c_str());
        return 1;
    }

    // Signals are taken by sigwait below; every server thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CTrackingStore store;
    std::string error;
    const std::string dbPath = (std::filesystem::path(options.dataDir) / "tracking.db").string();
    if (!store.Open(dbPath, error)) {
        std::fprintf(stderr, "rivuzovara-local: cannot open %s: %s\n", dbPath.c_str(), error.c_str());
        return 1;
    }

    httplib::Server tracking;
    httplib::Server im;
    for (httplib::Server* server : {&tracking, &im}) {
        // Short keep-alive so a stop never waits long for idle connections.
        server->set_keep_alive_timeout(1);
        server->set_read_timeout(10, 0);
        server->set_write_timeout(10, 0);
        // The library's default adds SO_REUSEPORT, which would let a second
        // copy share a busy port; a busy port must be refused.
        server->set_socket_options([](socket_t sock) {
            const int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
    }
    std::string adminToken;
    if (!LoadAdminToken(options.dataDir, adminToken, error)) {
        std::fprintf(stderr, "rivuzovara-local: %s\n", error.c_str());
        return 1;
    }
    tracking.new_task_queue = [] { return new CConnectionThreads(kMaxTrackingThreads); };
    const auto stopWaiters = RegisterTrackingRoutes(tracking, store, adminToken, options.waitSeconds);
    RegisterImRoutes(im, options.dataDir, adminToken);
    CAccessLog accessLog;
    if (!options.accessLog.empty() && !accessLog.Open(options.accessLog)) {
        std::fprintf(stderr, "rivuzovara-local: cannot write %s: %s\n", options.accessLog.c_str(),
                     std::strerror(errno));
        return 1;
    }
    accessLog.Attach(tracking, "tracking");
    accessLog.Attach(im, "im");

    const int trackingPort = Bind(tracking, options.bind, options.trackingPort);
    if (trackingPort <= 0) {
        std::fprintf(stderr, "rivuzovara-local: cannot listen on %s port %d\n", options.bind.c_str(),
                     options.trackingPort);
        return 1;
    }
    const int imPort = Bind(im, options.bind, options.imPort);
    if (imPort <= 0) {
        std::fprintf(stderr, "rivuzovara-local: cannot listen on %s port %d\n", options.bind.c_str(), options.imPort);
        return 1;
    }

    std::thread trackingThread([&] { tracking.listen_after_bind(); });
    std::thread imThread([&] { im.listen_after_bind(); });

    const std::string host = HostForUrl(options.bind);
    std::printf("rivuzovara-local: data in %s\n", options.dataDir.c_str());
    std::printf("rivuzovara-local: admin calls (POST) need the token in %s/%s\n", options.dataDir.c_str(),
                kAdminTokenFile);
    std::printf("rivuzovara-local: tracking service on http://%s:%d\n", host.c_str(), trackingPort);
    std::printf("rivuzovara-local: IM web on http://%s:%d\n", host.c_str(), imPort);
    std::fflush(stdout);

    int status = 0;
    bool started = false;
    const std::time_t startedBy = std::time(nullptr) + 10;
    for (;;) {
        const timespec wait{0, 200 * 1000 * 1000};
        const int signal = sigtimedwait(&stopSignals, nullptr, &wait);
        if (signal > 0) {
            std::printf("rivuzovara-local: stopping (%s)\n", strsignal(signal));
            break;
        }
        const bool running = tracking.is_running() && im.is_running();
        started = started || running;
        // A server that ends by itself (or never starts) ends the whole service.
        if ((started && !running) || (!started && std::time(nullptr) > startedBy)) {
            std::fprintf(stderr, "rivuzovara-local: a server stopped unexpectedly\n");
            status = 1;
            break;
        }
    }
    stopWaiters();
    tracking.stop();
    im.stop();
    trackingThread.join();
    imThread.join();
    store.Close();
    std::printf("rivuzovara-local: stopped\n");
    std::fflush(stdout);
    return status;
}
