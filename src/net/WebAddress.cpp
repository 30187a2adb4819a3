#include "net/WebAddress.h"

#include "platform/Endpoints.h"

#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

bool IsInternalV4(quint32 a)
{
    const auto in = [a](quint32 net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
    return in(0x00000000, 8) || in(0x0A000000, 8) || in(0x64400000, 10) || in(0x7F000000, 8) || in(0xA9FE0000, 16) ||
           in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0xE0000000, 4) || a == 0xFFFFFFFF;
}

bool IsInternalV6(const unsigned char* b)
{
    static const unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    static const unsigned char kZero[15] = {};
    if (std::memcmp(b, kMappedPrefix, 12) == 0)
        return IsInternalV4(quint32(b[12]) << 24 | quint32(b[13]) << 16 | quint32(b[14]) << 8 | b[15]);
    // :: and ::1
    if (std::memcmp(b, kZero, 15) == 0 && (b[15] == 0 || b[15] == 1))
        return true;
    return (b[0] & 0xFE) == 0xFC                      // unique local fc00::/7
           || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) // link-local fe80::/10
           || b[0] == 0xFF;                           // multicast
}

} // namespace

bool IsWebAddress(const QString& address)
{
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ||
            scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0);
}

bool IsInternalHostAddress(const sockaddr* address)
{
    if (!address)
        return true;
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return IsInternalV4(ntohl(v4->sin_addr.s_addr));
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        return IsInternalV6(v6->sin6_addr.s6_addr);
    }
    // Neither IPv4 nor IPv6 (a local socket): never a place for a page.
    return true;
}

bool IsInternalHostLiteral(const QString& host)
{
    QString text = host;
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    const QByteArray latin = text.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, latin.constData(), &v4) == 1)
        return IsInternalV4(ntohl(v4.s_addr));
    in6_addr v6{};
    if (inet_pton(AF_INET6, latin.constData(), &v6) == 1)
        return IsInternalV6(v6.s6_addr);
    return false;
}

QString WebOrigin(const QString& address)
{
    if (!IsWebAddress(address))
        return QString();
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    QString host = url.host().toLower();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return scheme + QStringLiteral("://") + host + QLatin1Char(':') + QString::number(port);
}

QStringList ConfiguredOrigins()
{
    const CEndpoints e = Endpoints();
    QStringList origins;
    for (const QString& base : {e.trackingBase, e.imProfileBase, e.imPortraitBase, e.imPresenceBase, e.imMessagePage,
                                e.imImageBase, e.makerSite}) {
        const QString origin = WebOrigin(base);
        if (!origin.isEmpty() && !origins.contains(origin))
            origins.append(origin);
    }
    return origins;
}

bool MayFetchTitle(const QString& address, const QStringList& configuredOrigins)
{
    if (!IsWebAddress(address))
        return false;
    if (configuredOrigins.contains(WebOrigin(address)))
        return true;
    // Only the configured service itself, not its machine's other ports (a
    // database, a printer's admin page, the stand-in's admin routes).
    const QString host = QUrl(address.trimmed(), QUrl::TolerantMode).host().toLower();
    return !IsInternalHostLiteral(host) && host != QLatin1String("localhost") &&
           !host.endsWith(QLatin1String(".localhost"));
}
