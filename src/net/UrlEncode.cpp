#include "net/UrlEncode.h"

#include "platform/TextCodec.h"

namespace {

bool IsEncoded(unsigned char b)
{
    if (b < 0x21 || b > 0x7A)
        return true;
    return (b >= 0x21 && b <= 0x26) || b == 0x2B || b == 0x2C || b == 0x2F || (b >= 0x3A && b <= 0x40) ||
           (b >= 0x5B && b <= 0x5E) || b == 0x60;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QString CURLEncode::Encode(const QByteArray& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (IsEncoded(b)) {
            out += QLatin1Char('%');
            out += QLatin1Char(kHex[b >> 4]);
            out += QLatin1Char(kHex[b & 0x0F]);
        } else {
            out += QLatin1Char(c);
        }
    }
    return out;
}

QByteArray CURLEncode::DecodeBytes(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (bytes[i] == '%' && i + 2 < n) {
            const int high = HexValue(bytes[i + 1]);
            const int low = HexValue(bytes[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += bytes[i];
    }
    return out;
}

QString CURLEncode::Decode(const QString& text)
{
    return AnsiToUnicode(DecodeBytes(UnicodeToAnsi(text)));
}
