#pragma once
// The IM web side of the local stand-in: profile pages listing an account's
// recent visitors, portrait images, the presence query, the message page and
// item pages, plus their admin calls. Its state lives in <dataDir>/im.db.
#include <string>

namespace httplib {
class Server;
}

// Admin calls need adminToken (AdminAccess.h).
void RegisterImRoutes(httplib::Server& server, const std::string& dataDir, const std::string& adminToken);
