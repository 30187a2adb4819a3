#pragma once
// IPv4 answers of an ipdb file laid out for random look-ups, which miss the
// caches and the TLB at every step: one 4-byte entry per /16, which either is
// the answer (most /16s have one) or points at the /16's ranges, their 16-bit
// starts and answer numbers side by side. Everything sits in one block of
// memory on huge pages where the system allows them.
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class CIpdbV4Table
{
public:
    struct CRange
    {
        uint32_t start;
        uint32_t text;
    };
    // ranges: sorted by start, the first at 0; texts: the answers by number,
    // which must outlive the table. False (and an empty table) when the
    // memory cannot be had or the ranges do not fit the layout.
    bool Build(const std::vector<CRange>& ranges, const std::vector<QString>& texts);
    bool IsEmpty() const { return m_blocks == nullptr; }
    void Clear();
    size_t Bytes() const { return m_bytes; }

    QString Answer(uint32_t ip) const
    {
        const uint32_t text = TextOf(ip);
        const CTextRef& ref = m_refs[text];
        // Texts that live for the whole process are handed out without a
        // read of their string header.
        if (ref.chars)
            return QString::fromRawData(ref.chars, ref.size);
        return m_texts[text];
    }

private:
    struct CTextRef
    {
        const QChar* chars;
        qsizetype size;
    };
    struct CUnmap
    {
        size_t size;
        void operator()(void* p) const;
    };
    static constexpr uint32_t kSingle = 0x80000000u;

    uint32_t TextOf(uint32_t ip) const
    {
        const uint32_t block = m_blocks[ip >> 16];
        if (block & kSingle)
            return block & ~kSingle;
        // [count low, count high][starts of the ranges after the first][each
        // range's answer number as two halves]; the first range holds the
        // /16's first address.
        const uint16_t* chunk = m_chunks + block;
        const uint32_t count = uint32_t(chunk[0]) | uint32_t(chunk[1]) << 16;
        const uint16_t* starts = chunk + 2;
        const uint16_t low = uint16_t(ip);
        // Branch-free: the ranges' starts do not follow any pattern.
        const uint16_t* base = starts;
        uint32_t length = count - 1;
        while (length > 1) {
            const uint32_t half = length / 2;
            base = base[half] <= low ? base + half : base;
            length -= half;
        }
        const uint32_t k = uint32_t(base - starts) + (*base <= low ? 1 : 0);
        const uint16_t* text = starts + (count - 1) + 2 * k;
        return uint32_t(text[0]) | uint32_t(text[1]) << 16;
    }

    std::unique_ptr<void, CUnmap> m_memory{nullptr, CUnmap{0}};
    size_t m_bytes = 0;
    const uint32_t* m_blocks = nullptr;
    const CTextRef* m_refs = nullptr;
    const uint16_t* m_chunks = nullptr;
    // The reader's answers (their buffer, which stays when the reader is moved).
    const QString* m_texts = nullptr;
};
