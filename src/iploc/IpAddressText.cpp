#include "iploc/IpAddressText.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kMaxAddressChars = 63;

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Hex digit values by ASCII code, -1 for anything else.
constexpr std::array<int8_t, 256> kHexValue = [] {
    std::array<int8_t, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[size_t(c)] = c >= '0' && c <= '9'   ? int8_t(c - '0')
                            : c >= 'a' && c <= 'f' ? int8_t(c - 'a' + 10)
                            : c >= 'A' && c <= 'F' ? int8_t(c - 'A' + 10)
                                                   : int8_t(-1);
    return values;
}();

// Dotted IPv4 as inet_pton reads it: four parts of at most 255 without
// leading zeros, nothing else.
template <typename Char> bool ParseDotted(const Char* s, qsizetype n, unsigned char* out)
{
    unsigned char parts[4] = {};
    int part = 0;
    int started = 0;
    bool inPart = false;
    for (qsizetype i = 0; i < n; ++i) {
        const Char c = s[i];
        if (c >= '0' && c <= '9') {
            const unsigned value = parts[part] * 10u + unsigned(c - '0');
            if ((inPart && parts[part] == 0) || value > 255)
                return false;
            parts[part] = static_cast<unsigned char>(value);
            if (!inPart) {
                ++started;
                inPart = true;
            }
        } else if (c == '.' && inPart && started < 4) {
            ++part;
            inPart = false;
        } else {
            return false;
        }
    }
    if (started < 4)
        return false;
    std::memcpy(out, parts, 4);
    return true;
}

// IPv6 text as inet_pton reads it (RFC 4291): up to eight groups of one to
// four hex digits, at most one "::", dotted IPv4 as the last 32 bits. One
// pass and a table: the parse was two thirds of an IPv6 lookup.
bool ParseIpv6(const char* s, int n, unsigned char* out)
{
    if (n == 0 || (s[0] == ':' && (n < 2 || s[1] != ':')))
        return false;
    unsigned char bytes[16] = {};
    int filled = 0;
    int gap = -1;
    int i = s[0] == ':' ? 1 : 0;
    int token = i;
    int digits = 0;
    unsigned value = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i++]);
        const int digit = kHexValue[c];
        if (digit >= 0) {
            if (digits == 4)
                return false;
            value = value << 4 | unsigned(digit);
            ++digits;
            continue;
        }
        if (c == ':') {
            token = i;
            if (digits == 0) {
                if (gap >= 0)
                    return false;
                gap = filled;
                continue;
            }
            if (i == n || filled == 16)
                return false;
            bytes[filled++] = uint8_t(value >> 8);
            bytes[filled++] = uint8_t(value);
            digits = 0;
            value = 0;
            continue;
        }
        if (c == '.' && filled <= 12 && ParseDotted(s + token, n - token, bytes + filled)) {
            filled += 4;
            digits = 0;
            break;
        }
        return false;
    }
    if (digits > 0) {
        if (filled == 16)
            return false;
        bytes[filled++] = uint8_t(value >> 8);
        bytes[filled++] = uint8_t(value);
    }
    if (gap >= 0) {
        // "::" stands for at least one zero group.
        if (filled == 16)
            return false;
        const int after = filled - gap;
        std::memmove(bytes + 16 - after, bytes + gap, size_t(after));
        std::memset(bytes + gap, 0, size_t(16 - after - gap));
        filled = 16;
    }
    if (filled != 16)
        return false;
    std::memcpy(out, bytes, 16);
    return true;
}

// Text of digits and dots only: 4 or 0 as for dotted IPv4. -1 for any other
// character, which the general path decides. One pass, as ParseDotted reads
// it, without the copy and the library call: parsing was a third of an IPv4
// lookup.
int ParseDigitsAndDots(const char16_t* s, qsizetype n, unsigned char* out)
{
    if (n > 15)
        return -1;
    unsigned char parts[4] = {};
    int part = 0;
    int started = 0;
    bool inPart = false;
    bool valid = true;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i];
        const unsigned digit = unsigned(c) - u'0';
        if (digit > 9 && c != u'.')
            return -1;
        if (!valid)
            continue;
        if (digit <= 9) {
            const unsigned value = parts[part] * 10u + digit;
            valid = !(inPart && parts[part] == 0) && value <= 255;
            parts[part] = static_cast<unsigned char>(value);
            started += inPart ? 0 : 1;
            inPart = true;
        } else if (inPart && started < 4) {
            ++part;
            inPart = false;
        } else {
            valid = false;
        }
    }
    if (!valid || started < 4)
        return 0;
    std::memcpy(out, parts, 4);
    return 4;
}

} // namespace

int ParseIpAddress(const QString& text, unsigned char* out)
{
    const char16_t* s = reinterpret_cast<const char16_t*>(text.constData());
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    if (end - begin >= 2 && s[begin] == u'[' && s[end - 1] == u']') {
        ++begin;
        --end;
    }
    const int dotted = ParseDigitsAndDots(s + begin, end - begin, out);
    if (dotted >= 0)
        return dotted;
    char ascii[kMaxAddressChars + 1];
    int n = 0;
    bool colon = false;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = s[i];
        if (c == u'%' && colon)
            break;
        if (c >= 0x80 || n == kMaxAddressChars)
            return 0;
        colon = colon || c == u':';
        ascii[n++] = static_cast<char>(c);
    }
    ascii[n] = '\0';
    if (colon)
        return ParseIpv6(ascii, n, out) ? 16 : 0;
    return inet_pton(AF_INET, ascii, out) == 1 ? 4 : 0;
}
