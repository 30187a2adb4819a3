#pragma once
// The reply of the page-view wake-up ("/rivuzovara/WaitInfo.asp"): "+OK <m>"
// alone, or followed by one record per view above the number asked after,
// oldest first, each after CR LF:
// <seq>#||#<IP>#||#<item address>#||#<time>#||#|##|
// Fields are taken as they stand, as the feed's are. Stateless; any thread.
#include <QString>

#include <vector>

struct CWaitRecord
{
    qint64 seq = 0;
    QString ip;
    QString itemUrl;
    QString time; // "yyyy-MM-dd HH:mm:ss", the service's local time
};

enum class EWaitReply
{
    Views,     // latest and the records (possibly none)
    Refused,   // no "+OK": "-ERR" for an unknown web ID, or a service without the route
    Malformed, // "+OK" but not the grammar: a failure of the service
};

struct CWaitInfoReply
{
    EWaitReply kind = EWaitReply::Malformed;
    // The number to ask after next: the last record's, or m when there is none.
    qint64 next = -1;
    std::vector<CWaitRecord> records;
    // What was wrong, for the log (never the reply itself).
    QString problem;
};

// after: the number the request asked after, -1 for the empty after= (which
// answers "+OK <m>" alone). Records must count up from above after.
CWaitInfoReply ParseWaitInfoReply(const QString& reply, qint64 after);
