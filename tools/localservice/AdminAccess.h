#pragma once
// Who may call the stand-in's admin routes (register, freeze, reset, fake
// page views and visitors): only the local user who started it. A page in
// the owner's browser can send a GET anywhere and a form POST too, and DNS
// rebinding gives it a foreign Host on our port; so admin calls are POST
// only, name a loopback Host and carry the token that only the data
// folder's owner can read (<data>/admin-token, 0600, header X-Admin-Token).
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

inline constexpr const char* kAdminTokenFile = "admin-token";
inline constexpr const char* kAdminTokenHeader = "X-Admin-Token";

// Reads the token of the data folder, making one (random, 0600) when there
// is none; false with error set when neither works.
bool LoadAdminToken(const std::string& dataDir, std::string& token, std::string& error);

// The Host header names a loopback name or address (any port).
bool IsLoopbackHost(const std::string& host);

// True when the request may reach an admin route; otherwise the refusal
// (405 for a method other than POST, 403 for a foreign Host or a missing or
// wrong token) is already in res.
bool AdminRequestAllowed(const httplib::Request& req, httplib::Response& res, const std::string& token);

// A query or form value whose name says it is a password, for logs.
bool IsSecretName(const std::string& name);
