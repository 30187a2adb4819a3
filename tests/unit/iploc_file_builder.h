#pragma once
// Builds small QQWry.Dat files for the reader's tests: data records first,
// then the index, then the header pointing at it, as the real file is laid out.
#include "platform/TextCodec.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

class CQQwryFileBuilder
{
public:
    CQQwryFileBuilder() : m_data(8, '\0') {}

    uint32_t Here() const { return static_cast<uint32_t>(m_data.size()); }

    // Raw bytes; returns where they start.
    uint32_t Bytes(const QByteArray& bytes)
    {
        const uint32_t at = Here();
        m_data += bytes;
        return at;
    }
    // A NUL-terminated GBK string; returns where it starts.
    uint32_t String(const QString& text) { return Bytes(UnicodeToAnsi(text) + '\0'); }
    uint32_t RawString(const QByteArray& bytes) { return Bytes(bytes + '\0'); }

    static QByteArray U32(uint32_t v)
    {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>(v >> (8 * i));
        return b;
    }
    static QByteArray Off3(uint32_t v) { return U32(v).left(3); }
    static QByteArray Redirect(char mode, uint32_t target) { return QByteArray(1, mode) + Off3(target); }
    static QByteArray Gbk(const QString& text) { return UnicodeToAnsi(text) + '\0'; }

    // A range whose data record (end IP, then `location`) starts here.
    void Range(uint32_t start, uint32_t end, const QByteArray& location)
    {
        const uint32_t r = Bytes(U32(end) + location);
        m_index.push_back({start, r});
    }

    // The whole file; the index follows the data in the order ranges were added.
    QByteArray Finish() const
    {
        QByteArray out = m_data;
        const uint32_t first = static_cast<uint32_t>(out.size());
        for (const auto& entry : m_index)
            out += U32(entry.start) + Off3(entry.record);
        const uint32_t last = m_index.empty() ? first - 7 : first + 7 * uint32_t(m_index.size() - 1);
        out.replace(0, 4, U32(first));
        out.replace(4, 4, U32(last));
        return out;
    }

    // Writes bytes to a file in dir and returns its path.
    static QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return QString();
        return path;
    }

private:
    struct Entry
    {
        uint32_t start;
        uint32_t record;
    };
    QByteArray m_data;
    std::vector<Entry> m_index;
};

inline uint32_t Ip(int a, int b, int c, int d)
{
    return uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8 | uint32_t(d);
}
