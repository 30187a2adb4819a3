// The presence reply parse of QueryOnlineUsers on arbitrary reply bytes.
#include "monitor/FlashOnlineClientThread.h"
#include "platform/TextCodec.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says how many visitors were asked about.
    const int count = data[0] % 17;
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(QStringLiteral("n%1").arg(i));
    const QString reply = AnsiToUnicode(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const QStringList online = ParsePresenceReply(reply, names);
    if (online.size() > names.size())
        std::abort();
    // Online names come in list order, each at most once.
    qsizetype last = -1;
    for (const QString& name : online) {
        const qsizetype at = names.indexOf(name);
        if (at <= last)
            std::abort();
        last = at;
    }
    return 0;
}
