// The title extraction of LookupItemTitle on arbitrary page bytes.
#include "monitor/ItemTitle.h"
#include "platform/TextCodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString page = AnsiToUnicode(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString title = ExtractItemTitle(page);
    if (title == QLatin1String(kNoTitle))
        return 0;
    // A title has at most 93 characters before cleaning and no white space after it.
    if (title.size() > 93)
        std::abort();
    for (const QChar c : title) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            std::abort();
    }
    return 0;
}
