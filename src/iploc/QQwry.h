#pragma once
// Reader of the IP-location database QQWry.Dat: turns dotted IPv4 text into
// "country area". The visitor list page owns one and opens it on the window's
// thread; the monitoring thread calls Lookup. The file is read on every
// lookup, never loaded or mapped. Every public operation holds one lock, so
// lookups from several threads run one after the other, and the destructor
// waits for a lookup in progress.
//
// Every read is checked against the file's size: a truncated or corrupt file
// answers "没有查到相关信息" (the bytes that locate a record are missing) or
// gives short or empty strings (a string runs off the end), never reads out
// of bounds.
#include <QString>

#include <cstdint>
#include <mutex>

class SEU_QQwry
{
public:
    SEU_QQwry();
    virtual ~SEU_QQwry();
    SEU_QQwry(const SEU_QQwry&) = delete;
    SEU_QQwry& operator=(const SEU_QQwry&) = delete;

    // Opens the file read-only and reads its 8-byte header. A file shorter
    // than the header does not open. Nothing is reported on failure.
    bool Open(const QString& path);
    bool IsOpen() const;

    // "请输入IP地址" for empty text, "没有查到相关信息" when no range holds the
    // address (or the file is missing or broken), else country + " " + area
    // ("" for a record whose country has no end).
    QString Lookup(const QString& ipText);

    // Dotted text to a number, first octet most significant. Parts are read
    // like atoi (blanks, a sign, digits up to the first other character);
    // each keeps its low eight bits; missing parts are 0, parts past the
    // fourth are ignored.
    static uint32_t ParseIp(const QString& text);

    // Index of the record whose range holds ip, or -1.
    int FindRecord(uint32_t ip);
    int RecordCount() const;
    // Start IP of index record i (0xFFFFFFFF when i is outside the index or
    // unreadable); also reads that record's end IP, see LastEndIp().
    uint32_t ReadStartIp(int i);
    uint32_t LastEndIp() const;
    // Reads record i and classifies its layout (1-8, 0 when the country has
    // no end); returns the data record's offset, 0 when it cannot be read.
    uint32_t DescribeRecord(int i);
    int Layout() const;
    uint32_t OffsetA() const;
    uint32_t OffsetB() const;
    // Country + " " + area of record i by its layout; "" for layout 0 or an
    // unreadable record (see LastRecordReadable()).
    QString ReadLocation(int i);
    bool LastRecordReadable() const;
    // A NUL-terminated GBK string at offset ("" past the last index offset),
    // of which at most kMaxStringBytes bytes are kept.
    QString ReadStringAt(uint32_t offset);
    // The same, continuing where the previous string read stopped.
    QString ReadStringHere();

    static constexpr int kMaxStringBytes = 51;

private:
    // Reads up to size bytes at offset; returns how many the file holds there.
    qsizetype ReadAt(uint64_t offset, unsigned char* buffer, qsizetype size) const;
    static uint32_t Offset3(const unsigned char* bytes);
    QString ReadLocationLocked(int i);

    mutable std::recursive_mutex m_lock;
    int m_fd = -1;
    uint64_t m_fileSize = 0;
    bool m_opened = false;
    uint32_t m_firstIndex = 0;
    uint32_t m_lastIndex = 0;
    unsigned char m_indexRecord[7] = {};
    unsigned char m_recordBuffer[64] = {};
    uint32_t m_endIp = 0;
    bool m_endIpValid = false;
    int m_layout = 0;
    uint32_t m_offsetA = 0;
    uint32_t m_offsetB = 0;
    bool m_recordReadable = false;
    // Where ReadStringHere continues.
    uint64_t m_position = 0;
};
