// rivuzovara: the tracking service. Runs the service, or one account command.
#include "AccountCommands.h"
#include "HttpServer.h"
#include "Log.h"
#include "Options.h"
#include "TrackingService.h"
#include "ViewStore.h"

#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include <malloc.h>
#include <sys/resource.h>

namespace {

// Thousands of waiting WaitInfo requests need as many descriptors.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A view's memory is taken on a request thread and given back on the writer
// thread: glibc would hand each thread's arena back to the system after every
// batch (madvise) and fault it in again for the next.
void KeepFreedMemory()
{
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
}

int RunService(const rivuzovara::SOptions& options, rivuzovara::IViewStore& store)
{
    using namespace rivuzovara;
    RaiseDescriptorLimit();
    KeepFreedMemory();
    std::signal(SIGPIPE, SIG_IGN);
    // The service hears of other servers' views from the store: made before the store opens.
    CTrackingService service(options, store);
    std::string error;
    if (!store.Open(error)) {
        LogError("cannot open the store: " + error);
        return 1;
    }
    CHttpServer server(options, service);
    if (!server.Listen(error)) {
        LogError(error);
        return 1;
    }
    service.Start();
    boost::asio::signal_set signals(server.MainContext(), SIGTERM, SIGINT, SIGHUP);
    signals.async_wait([&](const boost::system::error_code& ec, int signal) {
        if (!ec)
            LogInfo(std::string("stopping (") + strsignal(signal) + ")");
        server.Stop();
    });
    LogInfo("data in " + (options.store.empty() ? options.dataDir : std::string("the store of --store")));
    for (const auto& address : server.Addresses())
        LogInfo("listening on " + address);
    server.Run();
    service.Stop();
    LogInfo("stopped");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace rivuzovara;
    SOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        // Asked for, the usage is the answer; after a mistake, the reason and the usage.
        if (error == "help") {
            std::fputs(UsageText(), stdout);
            return 0;
        }
        std::fprintf(stderr, "rivuzovara: %s\n", error.c_str());
        std::fputs(UsageText(), stderr);
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(options.dataDir, ec);
    if (ec) {
        std::fprintf(stderr, "rivuzovara: cannot create %s: %s\n", options.dataDir.c_str(), ec.message().c_str());
        return 1;
    }
    auto store = MakeViewStore(options.store, options.dataDir, error);
    if (!store) {
        std::fprintf(stderr, "rivuzovara: %s\n", error.c_str());
        return 1;
    }
    if (options.command.empty())
        return RunService(options, *store);
    if (!store->Open(error)) {
        std::fprintf(stderr, "rivuzovara: cannot open the store: %s\n", error.c_str());
        return 1;
    }
    return RunAccountCommand(*store, options.command);
}
