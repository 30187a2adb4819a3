#include "iploc/IpdbV4Table.h"

#include "platform/Log.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr uint32_t kBlocks = 65536;

size_t RoundUp(size_t n, size_t to)
{
    return (n + to - 1) / to * to;
}

} // namespace

void CIpdbV4Table::CUnmap::operator()(void* p) const
{
    if (p)
        munmap(p, size);
}

void CIpdbV4Table::Clear()
{
    m_memory.reset();
    m_bytes = 0;
    m_blocks = nullptr;
    m_refs = nullptr;
    m_chunks = nullptr;
    m_texts = nullptr;
}

bool CIpdbV4Table::Build(const std::vector<CRange>& ranges, const std::vector<QString>& texts)
{
    Clear();
    if (ranges.empty() || ranges.front().start != 0 || texts.size() >= kSingle)
        return false;
    // Each /16's ranges: from the one holding its first address to the last starting in it.
    std::vector<uint32_t> firsts(kBlocks);
    std::vector<uint32_t> ends(kBlocks);
    uint64_t chunkHalves = 0;
    size_t k = 0;
    for (uint32_t b = 0; b < kBlocks; ++b) {
        while (k < ranges.size() && ranges[k].start < b << 16)
            ++k;
        const size_t first = k < ranges.size() && ranges[k].start == b << 16 ? k : k - 1;
        size_t end = k;
        while (end < ranges.size() && ranges[end].start >> 16 == b)
            ++end;
        firsts[b] = uint32_t(first);
        ends[b] = uint32_t(end);
        if (end - first > 1)
            chunkHalves += 2 + (end - first - 1) + 2 * (end - first);
    }
    if (chunkHalves >= kSingle)
        return false;

    const size_t refsAt = RoundUp(kBlocks * sizeof(uint32_t), alignof(CTextRef));
    const size_t chunksAt = refsAt + texts.size() * sizeof(CTextRef);
    const size_t used = chunksAt + chunkHalves * sizeof(uint16_t);
    // Aligned to a huge page, so that the whole of it may be on huge pages.
    const size_t size = RoundUp(used, kHugePage);
    void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        qCWarning(LogIploc) << "no memory for the IPv4 table:" << std::strerror(errno);
        return false;
    }
    auto* raw = static_cast<char*>(mapped);
    char* base = reinterpret_cast<char*>(RoundUp(reinterpret_cast<uintptr_t>(raw), kHugePage));
    if (base > raw)
        munmap(raw, size_t(base - raw));
    if (base + size < raw + size + kHugePage)
        munmap(base + size, size_t(raw + size + kHugePage - (base + size)));
    // Only a hint: without huge pages the table works the same, a little slower.
    madvise(base, size, MADV_HUGEPAGE);

    auto* blocks = reinterpret_cast<uint32_t*>(base);
    auto* refs = reinterpret_cast<CTextRef*>(base + refsAt);
    auto* chunks = reinterpret_cast<uint16_t*>(base + chunksAt);
    for (size_t t = 0; t < texts.size(); ++t) {
        // A text without a string header is a literal or kept for the whole process.
        const bool lasting = !texts[t].data_ptr().isMutable();
        refs[t] = {lasting ? texts[t].constData() : nullptr, texts[t].size()};
    }
    uint32_t at = 0;
    for (uint32_t b = 0; b < kBlocks; ++b) {
        const uint32_t count = ends[b] - firsts[b];
        if (count == 1) {
            blocks[b] = kSingle | ranges[firsts[b]].text;
            continue;
        }
        blocks[b] = at;
        chunks[at++] = uint16_t(count);
        chunks[at++] = uint16_t(count >> 16);
        for (uint32_t r = firsts[b] + 1; r < ends[b]; ++r)
            chunks[at++] = uint16_t(ranges[r].start);
        for (uint32_t r = firsts[b]; r < ends[b]; ++r) {
            chunks[at++] = uint16_t(ranges[r].text);
            chunks[at++] = uint16_t(ranges[r].text >> 16);
        }
    }
    m_memory = std::unique_ptr<void, CUnmap>(base, CUnmap{size});
    m_bytes = size;
    m_blocks = blocks;
    m_refs = refs;
    m_chunks = chunks;
    m_texts = texts.data();
    return true;
}
