// The profile page parse of FetchProfileVisitors on arbitrary page bytes.
#include "monitor/RefreshShop.h"
#include "platform/TextCodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // Pages arrive as GBK bytes; the short prefix keeps the fuzzer near the real one.
    const QString page = AnsiToUnicode(bytes.constData(), bytes.size());
    QStringList names;
    QStringList ids;
    ParseProfileVisitors(page, QStringLiteral("http://h/sys/portraitn/item/"), names, ids);
    if (names.size() != ids.size())
        std::abort();
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i].isEmpty() || ids[i].isEmpty())
            std::abort();
    }
    // The same bytes read as UTF-16 text exercise characters GBK cannot hold.
    names.clear();
    ids.clear();
    ParseProfileVisitors(QString::fromUtf8(bytes), QStringLiteral("\""), names, ids);
    if (names.size() != ids.size())
        std::abort();
    return 0;
}
