#pragma once
// The tracking side of the local service: the service calls of the program
// (WaitInfo too), the counting image, the help and featured-shops pages, and the
// admin calls used by tests and the demo (see README.md).
#include <functional>
#include <memory>
#include <string>

class CTrackingStore;
namespace httplib {
class Server;
}

// The store must outlive the server. Admin calls need adminToken (AdminAccess.h).
// A WaitInfo request waits up to waitSeconds for a view. Returns what ends
// every wait at once, to be called before the server stops.
std::function<void()> RegisterTrackingRoutes(httplib::Server& server, CTrackingStore& store,
                                             const std::string& adminToken, int waitSeconds);
