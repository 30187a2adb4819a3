#pragma once
// Text helpers shared by the tracking and IM sides of the local service. The
// program sends query values as GBK bytes and reads every reply as GBK; the
// service keeps its state in UTF-8.
#include <iconv.h>

#include <cerrno>
#include <string>

namespace gbk {

// Converts between encodings. Strict mode fails on the first bad or
// unconvertible sequence; lenient mode skips it (one unit at a time).
inline bool Convert(const char* to, const char* from, const std::string& in, std::string& out, bool strict,
                    size_t unit = 1)
{
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string buffer(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buffer.data();
    size_t dstLeft = buffer.size();
    bool ok = true;
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            const size_t used = static_cast<size_t>(dst - buffer.data());
            buffer.resize(buffer.size() * 2);
            dst = buffer.data() + used;
            dstLeft = buffer.size() - used;
            continue;
        }
        ok = false;
        if (strict)
            break;
        const size_t skip = srcLeft < unit ? srcLeft : unit;
        src += skip;
        srcLeft -= skip;
    }
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    if (strict && !ok)
        return false;
    out.assign(buffer.data(), static_cast<size_t>(dst - buffer.data()));
    return true;
}

inline bool IsValidUtf8(const std::string& bytes)
{
    std::string ignored;
    return Convert("UTF-16LE", "UTF-8", bytes, ignored, true);
}

// UTF-8 text as GBK bytes; characters GBK cannot hold are dropped.
inline std::string ToGbk(const std::string& utf8)
{
    std::string out;
    Convert("GBK", "UTF-8", utf8, out, false);
    return out;
}

// Bytes that are expected to be GBK (what the program sends) as UTF-8. Input
// that is not valid GBK but valid UTF-8 is taken as UTF-8; anything else is
// decoded leniently.
inline std::string FromGbk(const std::string& bytes)
{
    std::string out;
    if (Convert("UTF-8", "GBK", bytes, out, true))
        return out;
    if (IsValidUtf8(bytes))
        return bytes;
    Convert("UTF-8", "GBK", bytes, out, false);
    return out;
}

// Bytes typed by a person (admin calls, curl, a browser): UTF-8 when valid,
// otherwise GBK.
inline std::string FromUtf8OrGbk(const std::string& bytes)
{
    if (IsValidUtf8(bytes))
        return bytes;
    std::string out;
    Convert("UTF-8", "GBK", bytes, out, false);
    return out;
}

// Percent-encodes every byte outside [A-Za-z0-9-._~].
inline std::string PercentEncode(const std::string& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}

// Escapes text for an HTML page.
inline std::string HtmlEscape(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Escapes text for a JSON string literal (UTF-8 kept as is).
inline std::string JsonEscape(const std::string& text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            out += "\\u00";
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace gbk
