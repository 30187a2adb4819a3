#pragma once
// Who a shopper is: the connection's address, or the one a trusted proxy
// forwarded; and how little of it is kept (--anonymise-ip). Any thread.
#include <boost/asio/ip/address.hpp>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace rivuzovara {

// An address range; IPv4 ones are held as IPv4-mapped IPv6.
struct SNetwork
{
    std::array<unsigned char, 16> bytes{};
    int prefix = 0; // of the 128 bits
};

// "10.0.0.0/8", "2001:db8::/32", or a single address.
bool ParseNetwork(const std::string& text, SNetwork& network);
bool InNetworks(const boost::asio::ip::address& address, const std::vector<SNetwork>& networks);

// IPv4-mapped IPv6 as plain IPv4.
boost::asio::ip::address Unmapped(const boost::asio::ip::address& address);

// The shopper's address as text: the peer's, unless the peer is a trusted
// proxy; then the nearest untrusted address of X-Forwarded-For, read from
// the right (what the proxy itself saw), ignoring what a shopper wrote.
std::string ClientAddress(const boost::asio::ip::address& peer, std::string_view forwardedFor,
                          const std::vector<SNetwork>& trustedProxies);

// IPv4 to its /24, IPv6 to its /48; other text unchanged.
std::string AnonymisedAddress(const std::string& address);

} // namespace rivuzovara
