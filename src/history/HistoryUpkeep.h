#pragma once
// Keeping a long history in bounds: the visits and the tracking service's page
// views older than the owner's limit go in many small deletes by their tables'
// owners, each its own short transaction, so the monitoring thread never waits
// long for the store; and one visitor's rows, everywhere, for an owner asked to
// forget someone. The deletes of old rows run on a worker (any thread but the
// window's); the visitor's on the window's thread. Uses g_pConnection.
#include <QString>

#include <atomic>

struct CUpkeepCounts
{
    qint64 visits = 0;
    qint64 pageViews = 0;
    qint64 greetings = 0; // greeting log rows and queued greetings (one visitor only)
    bool ok = true;       // false: a delete failed (what went before stays deleted)
};

// How long one delete may hold the store: the step grows or shrinks to stay near it.
constexpr int kUpkeepStepTargetMs = 25;
constexpr int kUpkeepFirstStep = 200;
constexpr int kUpkeepMaxStep = 5000;

// "yyyy-MM-dd HH:mm:ss" of nowMs less days, in the store's local time.
QString UpkeepCutoff(qint64 nowMs, int days);
// Deletes every visit and page view stamped before cutoff; stops early (ok, counts so
// far) when stop rises. Logs the counts.
CUpkeepCounts DeleteHistoryBefore(const QString& cutoff, const std::atomic<int>* stop = nullptr);
// The owner's rule at nowMs: nothing when automatic deletion is off.
CUpkeepCounts RunHistoryUpkeep(qint64 nowMs, const std::atomic<int>* stop = nullptr);
// Every visit of that visitor in every shop, the greeting log's rows about them and the
// greetings still queued for them. Logs the counts (never the name).
CUpkeepCounts DeleteVisitorEverywhere(const QString& visitor);
