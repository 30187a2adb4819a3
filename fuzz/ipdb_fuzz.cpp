// Arbitrary ipdb files and address text for CIpdbReader.
// Input: byte n, n bytes of address text (Latin-1), a mode byte, then the file.
// Mode bit 0 set: the rest is the whole file. Clear: the rest is the trie and
// records, under a header made from the mode and two more bytes (node count),
// so that most runs get past the header into the trie walk.
#include "iploc/IpdbReader.h"

#include <QString>
#include <QStringList>

#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

QByteArray Be32(uint32_t v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

QByteArray MadeFile(uint8_t mode, const uint8_t* data, size_t size)
{
    if (size < 2)
        return QByteArray();
    const uint32_t nodes = (uint32_t(data[0]) << 8 | data[1]) + 1;
    const QByteArray body(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    static const char* const kNames[] = {"country_name", "region_name", "city_name",    "district_name",
                                         "owner_domain", "isp_domain",  "country_code", "continent_code"};
    QStringList fields;
    for (int i = 0; i < 1 + (mode >> 1 & 7); ++i)
        fields << QStringLiteral("\"%1\"").arg(QLatin1String(kNames[i]));
    const QByteArray json = QStringLiteral("{\"node_count\":%1,\"ip_version\":%2,\"languages\":{\"CN\":%3},"
                                           "\"fields\":[%4],\"total_size\":%5}")
                                .arg(nodes)
                                .arg(1 + (mode >> 6) % 3)
                                .arg(mode >> 4 & 3)
                                .arg(fields.join(QLatin1Char(',')))
                                .arg(body.size())
                                .toUtf8();
    return Be32(uint32_t(json.size())) + json + body;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t textSize = std::min<size_t>(data[0], size - 2);
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data + 1), qsizetype(textSize));
    const uint8_t mode = data[1 + textSize];
    const uint8_t* rest = data + 2 + textSize;
    const size_t restSize = size - 2 - textSize;

    // Our address parser agrees with the C library's on plain text.
    const QByteArray ascii = text.toLatin1();
    if (!ascii.contains('\0') && !ascii.contains('%') && !ascii.contains('[') && ascii.trimmed() == ascii) {
        unsigned char ours[16];
        unsigned char theirs[16];
        const int size = CIpdbReader::ParseAddress(text, ours);
        const bool v6 = ascii.contains(':');
        const int expected = inet_pton(v6 ? AF_INET6 : AF_INET, ascii.constData(), theirs) == 1 ? (v6 ? 16 : 4) : 0;
        if (size != expected || (size > 0 && std::memcmp(ours, theirs, size_t(size)) != 0))
            abort();
    }

    const QByteArray file = mode & 1 ? QByteArray(reinterpret_cast<const char*>(rest), qsizetype(restSize))
                                     : MadeFile(mode, rest, restSize);
    CIpdbReader reader;
    const bool loaded = reader.Load(file);
    if (loaded != reader.Error().isEmpty())
        abort();

    const QString answer = reader.Lookup(text);
    if (answer.isEmpty() || reader.Lookup(text) != answer)
        abort();
    QStringList values;
    if (reader.Fields(text, values) && values.size() > reader.FieldNames().size())
        abort();
    // Addresses made of the file's own bytes follow its node indexes.
    for (size_t k = 0; k + 16 <= restSize && k < 256; k += 16) {
        const uint8_t* b = rest + k;
        reader.Lookup(QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]));
        QStringList groups;
        for (int g = 0; g < 8; ++g)
            groups << QString::number(b[2 * g] << 8 | b[2 * g + 1], 16);
        reader.Lookup(groups.join(QLatin1Char(':')));
    }
    return 0;
}
