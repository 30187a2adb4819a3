#include "Options.h"

#include <charconv>

namespace rivuzovara {

namespace {

bool ParseNumber(const std::string& text, int low, int high, int& value)
{
    int parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// "ADDR:PORT", "[V6]:PORT", with ",metrics" after it.
bool ParseListen(std::string text, SListen& listen)
{
    const std::string mark = ",metrics";
    if (text.size() > mark.size() && text.compare(text.size() - mark.size(), mark.size(), mark) == 0) {
        listen.metrics = true;
        text.resize(text.size() - mark.size());
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || !ParseNumber(text.substr(colon + 1), 0, 65535, listen.port))
        return false;
    listen.address = text.substr(0, colon);
    if (listen.address.size() > 2 && listen.address.front() == '[' && listen.address.back() == ']')
        listen.address = listen.address.substr(1, listen.address.size() - 2);
    return true;
}

} // namespace

const char* UsageText()
{
    return "usage: rivuzovara --data DIR [--store URL] [--listen ADDR:PORT[,metrics]]... [--per-client-limit N]\n"
           "                  [--trusted-proxy CIDR]... [--tls-cert FILE --tls-key FILE] [--keep-days N]\n"
           "                  [--anonymise-ip]\n"
           "       rivuzovara --data DIR [--store URL] account add NAME PASSWORD\n"
           "       rivuzovara --data DIR [--store URL] account add NAME -   (the password: stdin's first line)\n"
           "       rivuzovara --data DIR [--store URL] account freeze|unfreeze|remove NAME\n"
           "       rivuzovara --data DIR [--store URL] account list\n"
           "  --store postgresql://... keeps the data in PostgreSQL; the default is DIR/tracking.db\n"
           "  --listen defaults to [::]:8780; \",metrics\" also answers /healthz and /metrics there\n"
           "  (loopback listens always do)\n";
}

bool ParseOptions(int argc, char** argv, SOptions& options, std::string& error)
{
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "account")
            break;
        if (arg == "--anonymise-ip") {
            options.anonymiseIp = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            error = "help";
            return false;
        }
        if (arg.rfind("--", 0) != 0) {
            error = "unexpected " + arg;
            return false;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (arg == "--data") {
            options.dataDir = value;
        } else if (arg == "--store") {
            options.store = value;
        } else if (arg == "--listen") {
            SListen listen;
            ok = ParseListen(value, listen);
            options.listens.push_back(listen);
        } else if (arg == "--per-client-limit") {
            ok = ParseNumber(value, 0, 1000000, options.perClientLimit);
        } else if (arg == "--trusted-proxy") {
            SNetwork network;
            ok = ParseNetwork(value, network);
            options.trustedProxies.push_back(network);
        } else if (arg == "--tls-cert") {
            options.tlsCert = value;
        } else if (arg == "--tls-key") {
            options.tlsKey = value;
        } else if (arg == "--keep-days") {
            ok = ParseNumber(value, 1, 100000, options.keepDays);
        } else if (arg == "--test-wait-seconds") {
            ok = ParseNumber(value, 1, 3600, options.waitSeconds);
        } else if (arg == "--test-read-seconds") {
            ok = ParseNumber(value, 1, 3600, options.readSeconds);
        } else if (arg == "--test-max-connections") {
            ok = ParseNumber(value, 1, 1000000, options.maxConnections);
        } else {
            error = "unknown option " + arg;
            return false;
        }
        if (!ok) {
            error = "bad value for " + arg + ": " + value;
            return false;
        }
    }
    if (options.dataDir.empty()) {
        error = "--data DIR is required";
        return false;
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    if (i < argc) {
        options.command.assign(argv + i, argv + argc);
        const auto& c = options.command;
        const size_t words = c.size();
        const std::string verb = words > 1 ? c[1] : std::string();
        const bool fits = (verb == "add" && words == 4) ||
                          ((verb == "freeze" || verb == "unfreeze" || verb == "remove") && words == 3) ||
                          (verb == "list" && words == 2);
        if (!fits) {
            error = "bad account command";
            return false;
        }
    }
    if (options.listens.empty())
        options.listens.push_back({"::", 8780, false});
    return true;
}

} // namespace rivuzovara
