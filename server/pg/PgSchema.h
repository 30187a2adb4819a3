#pragma once
// The tables of the PostgreSQL view store, created and upgraded by the program
// (several servers starting at once take turns under an advisory lock).
#include <string>

namespace rivuzovara::pg {

class CPgSession;

// The channel a server notifies when it recorded views: "<instance> <web ID>:<seq> ...".
constexpr const char* kViewsChannel = "rivuzovara_views";
constexpr int kSchemaVersion = 2;

bool EnsureSchema(CPgSession& session, std::string& error);

} // namespace rivuzovara::pg
