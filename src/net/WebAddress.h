#pragma once
// Addresses that came from outside the program (item addresses in the feed,
// links and pictures in pages): which of them may be opened or fetched.
// Pure functions apart from ConfiguredHosts; any thread.
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

// The hosts of the configured endpoints, lower case.
QStringList ConfiguredHosts();

// The automatic title fetch may ask this address: a web address whose host is
// a configured endpoint's, or one that names neither an internal address nor
// "localhost". Names are checked again when the connection is made.
bool MayFetchTitle(const QString& address, const QStringList& configuredHosts);
