#pragma once
// The tracking side of the local service: the four service calls of the
// program, the counting image, the help and featured-shops pages, and the
// admin calls used by tests and the demo (see README.md).
#include <memory>
#include <string>

class CTrackingStore;
namespace httplib {
class Server;
}

// The store must outlive the server. Admin calls need adminToken (AdminAccess.h).
void RegisterTrackingRoutes(httplib::Server& server, CTrackingStore& store, const std::string& adminToken);
