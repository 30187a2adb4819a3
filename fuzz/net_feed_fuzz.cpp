// Fuzzes what the client reads from the network: the feed reply grammar and
// the percent-decoding of names taken from pages.
#include "net/TrackingService.h"
#include "net/UrlEncode.h"
#include "platform/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void FuzzFeed(const QString& reply)
{
    QString ip, itemUrl, third;
    ParseFeedReply(reply, ip, itemUrl, third);
    const QLatin1String field("#||#");
    const QLatin1String record("|##|");
    for (const QString* value : {&ip, &itemUrl, &third}) {
        Check(!value->contains(field));
        Check(!value->contains(record));
    }
    if (ip.isEmpty() && itemUrl.isEmpty() && third.isEmpty())
        return;
    // Any field comes from a closed record whose fields stand in order.
    const qsizetype end = reply.indexOf(record);
    Check(end >= 0);
    Check(reply.startsWith(ip + field));
    if (!itemUrl.isEmpty() || !third.isEmpty())
        Check(reply.left(end).startsWith(ip + field + itemUrl + field));
    if (!third.isEmpty())
        Check(reply.left(end).startsWith(ip + field + itemUrl + field + third + field));
}

void FuzzDecode(const QByteArray& bytes)
{
    const QByteArray decoded = CURLEncode::DecodeBytes(bytes);
    Check(decoded.size() <= bytes.size());
    // Every group shrinks three bytes to one, so the length says how many were decoded.
    Check((bytes.size() - decoded.size()) % 2 == 0);
    // Encoding is reversible and only emits what a query can carry.
    const QString encoded = CURLEncode::Encode(bytes);
    for (const QChar c : encoded)
        Check(c.unicode() >= 0x21 && c.unicode() <= 0x7A);
    Check(CURLEncode::DecodeBytes(encoded.toLatin1()) == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FuzzFeed(QString::fromUtf8(bytes));
    // The client reads replies as GBK, up to the first zero byte.
    const QString text = AnsiToUnicode(bytes);
    FuzzFeed(text);
    FuzzDecode(bytes);
    CURLEncode::Decode(text);
    return 0;
}
