// Arbitrary QQWry.Dat bytes and address text for the IP reader.
// Input: one byte n, then n bytes of address text (Latin-1), then the file.
// The file lives in a memfd so every run opens a real descriptor without
// touching the disk.
#include "iploc/QQwry.h"

#include <QString>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

int MemoryFile()
{
    static const int fd = memfd_create("iploc_fuzz", MFD_CLOEXEC);
    return fd;
}

bool WriteWhole(int fd, const uint8_t* data, size_t size)
{
    if (ftruncate(fd, 0) != 0)
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

uint32_t Le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t textSize = std::min<size_t>(data[0], size - 1);
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data + 1), qsizetype(textSize));
    const uint8_t* file = data + 1 + textSize;
    const size_t fileSize = size - 1 - textSize;

    const int fd = MemoryFile();
    if (fd < 0 || !WriteWhole(fd, file, fileSize))
        abort();
    SEU_QQwry reader;
    const bool opened = reader.Open(QStringLiteral("/proc/self/fd/%1").arg(fd));
    if (opened != (fileSize >= 8))
        abort();

    const QString answer = reader.Lookup(text);
    if (answer.size() > 2 * SEU_QQwry::kMaxStringBytes + 1)
        abort();
    if (reader.Lookup(text) != answer)
        abort();
    // Addresses taken from the file itself hit its start IPs and end IPs.
    for (size_t k = 0; k + 4 <= fileSize && k < 64; k += 4) {
        const uint32_t ip = Le32(file + k);
        const int i = reader.FindRecord(ip);
        if (i < -1 || i >= reader.RecordCount())
            abort();
        reader.Lookup(QStringLiteral("%1.%2.%3.%4").arg(ip >> 24).arg(ip >> 16 & 255).arg(ip >> 8 & 255).arg(ip & 255));
    }
    const int count = reader.RecordCount();
    for (int i : {0, 1, count / 2, count - 1, count, -1}) {
        reader.ReadStartIp(i);
        reader.ReadLocation(i);
        if (reader.Layout() < 0 || reader.Layout() > 8)
            abort();
    }
    if (fileSize >= 12) {
        reader.ReadStringAt(Le32(file + 8) & 0xFFFFFF);
        if (reader.ReadStringHere().size() > SEU_QQwry::kMaxStringBytes)
            abort();
    }
    return 0;
}
