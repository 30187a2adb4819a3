#include "AddressRules.h"

#include <charconv>

namespace rivuzovara {

namespace ip = boost::asio::ip;

namespace {

std::array<unsigned char, 16> BytesOf(const ip::address& address)
{
    if (address.is_v4())
        return ip::make_address_v6(ip::v4_mapped, address.to_v4()).to_bytes();
    return address.to_v6().to_bytes();
}

bool Parse(std::string_view text, ip::address& address)
{
    boost::system::error_code ec;
    address = ip::make_address(std::string(text), ec);
    return !ec;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

bool ParseNetwork(const std::string& text, SNetwork& network)
{
    const size_t slash = text.find('/');
    ip::address address;
    if (!Parse(text.substr(0, slash), address))
        return false;
    const int bits = address.is_v4() ? 32 : 128;
    int prefix = bits;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty() || prefix < 0 || prefix > bits)
            return false;
    }
    network.bytes = BytesOf(address);
    network.prefix = prefix + (address.is_v4() ? 96 : 0);
    return true;
}

bool InNetworks(const ip::address& address, const std::vector<SNetwork>& networks)
{
    const auto bytes = BytesOf(Unmapped(address));
    for (const auto& network : networks) {
        bool inside = true;
        for (int bit = 0; bit < network.prefix && inside; bit += 8) {
            const int take = network.prefix - bit >= 8 ? 8 : network.prefix - bit;
            const auto mask = static_cast<unsigned char>(0xFF << (8 - take));
            inside = (bytes[bit / 8] & mask) == (network.bytes[bit / 8] & mask);
        }
        if (inside)
            return true;
    }
    return false;
}

ip::address Unmapped(const ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return ip::make_address_v4(ip::v4_mapped, address.to_v6());
    return address;
}

std::string ClientAddress(const ip::address& peer, std::string_view forwardedFor,
                          const std::vector<SNetwork>& trustedProxies)
{
    ip::address client = Unmapped(peer);
    if (trustedProxies.empty() || !InNetworks(client, trustedProxies))
        return client.to_string();
    // Each proxy appends the address it saw; read from the right.
    while (!forwardedFor.empty()) {
        const size_t comma = forwardedFor.rfind(',');
        const std::string_view part =
            Trimmed(comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1));
        forwardedFor = comma == std::string_view::npos ? std::string_view() : forwardedFor.substr(0, comma);
        ip::address hop;
        if (!Parse(part, hop))
            break; // not an address: nothing further left is to be believed
        client = Unmapped(hop);
        if (!InNetworks(client, trustedProxies))
            break;
    }
    return client.to_string();
}

std::string AnonymisedAddress(const std::string& text)
{
    ip::address address;
    if (!Parse(text, address))
        return text;
    address = Unmapped(address);
    if (address.is_v4()) {
        auto bytes = address.to_v4().to_bytes();
        bytes[3] = 0;
        return ip::address_v4(bytes).to_string();
    }
    auto bytes = address.to_v6().to_bytes();
    for (size_t i = 6; i < bytes.size(); ++i)
        bytes[i] = 0;
    return ip::address_v6(bytes).to_string();
}

} // namespace rivuzovara
