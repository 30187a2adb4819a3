#pragma once
// Addresses that came from outside the program (item addresses in the feed,
// links and pictures in pages): which of them may be opened or fetched.
// Pure functions apart from ConfiguredOrigins; any thread.
#include <QString>
#include <QStringList>

struct sockaddr;

// The scheme (by QUrl, any case) is http or https and a host is named.
bool IsWebAddress(const QString& address);

// Loopback, link-local, private-range, shared (100.64/10), unspecified and
// multicast addresses, IPv4 or IPv6 (mapped IPv4 included): places on the
// owner's side that a page seen by a stranger must not reach.
bool IsInternalHostAddress(const sockaddr* address);
// The same for a host as written in an address; false for a name.
bool IsInternalHostLiteral(const QString& host);

// "scheme://host:port" of a web address, lower case, the port always written
// (80 or 443 when the address names none); empty for anything else.
QString WebOrigin(const QString& address);
// The origins of the configured endpoints.
QStringList ConfiguredOrigins();

// The automatic title fetch may ask this address: a web address on a
// configured endpoint's origin (scheme, host and port), or one that names
// neither an internal address nor "localhost". Names, and every redirect,
// are checked again when the connection is made (CWinHttpEx).
bool MayFetchTitle(const QString& address, const QStringList& configuredOrigins);
