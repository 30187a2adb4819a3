#pragma once
// Counters for /metrics, bumped from every thread without a lock.
#include <atomic>
#include <string>

namespace rivuzovara {

struct SMetrics
{
    std::atomic<long long> viewsRecorded{0};
    std::atomic<long long> viewsOverLimit{0};
    std::atomic<long long> waiters{0};
    std::atomic<long long> connections{0};
    std::atomic<long long> connectionsRefused{0};
    std::atomic<long long> errors{0};
    std::atomic<long long> guessesRefused{0};
    std::atomic<long long> commits{0};
    std::atomic<long long> commitMicroseconds{0};
    std::atomic<long long> commitMicrosecondsMax{0};

    void CountCommit(long long microseconds)
    {
        ++commits;
        commitMicroseconds += microseconds;
        long long seen = commitMicrosecondsMax.load();
        while (microseconds > seen && !commitMicrosecondsMax.compare_exchange_weak(seen, microseconds)) {
        }
    }

    // Prometheus text format.
    std::string Text() const;
};

} // namespace rivuzovara
