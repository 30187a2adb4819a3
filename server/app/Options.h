#pragma once
// The command line of rivuzovara: the service, or one account command.
#include "AddressRules.h"

#include <string>
#include <vector>

namespace rivuzovara {

struct SListen
{
    std::string address;  // as written, brackets removed
    int port = 0;         // 0 picks a free one
    bool metrics = false; // ",metrics": /healthz and /metrics answered here too
};

struct SOptions
{
    std::string dataDir;
    std::string store;
    std::vector<SListen> listens;
    int perClientLimit = 60;
    std::vector<SNetwork> trustedProxies;
    std::string tlsCert;
    std::string tlsKey;
    int keepDays = 90;
    bool anonymiseIp = false;
    // Test-only (not in --help): shorter waits so the tests need not sit them out.
    int waitSeconds = 25;
    int readSeconds = 10;
    int maxConnections = 20000;
    // The account command and its words, empty to run the service.
    std::vector<std::string> command;
};

// Fills options; false with the reason for a bad command line (exit 2).
bool ParseOptions(int argc, char** argv, SOptions& options, std::string& error);
const char* UsageText();

} // namespace rivuzovara
