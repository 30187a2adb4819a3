#include "Metrics.h"

namespace rivuzovara {

namespace {

void Add(std::string& text, const char* name, const char* type, const char* help, const std::string& value)
{
    text +=
        std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " + value + "\n";
}

std::string Seconds(long long microseconds)
{
    return std::to_string(microseconds / 1000000) + "." + std::to_string(1000000 + microseconds % 1000000).substr(1);
}

} // namespace

std::string SMetrics::Text() const
{
    std::string text;
    Add(text, "rivuzovara_views_recorded_total", "counter", "Page views stored.", std::to_string(viewsRecorded));
    Add(text, "rivuzovara_views_over_limit_total", "counter", "Page views answered but not stored (per-client limit).",
        std::to_string(viewsOverLimit));
    Add(text, "rivuzovara_waiters", "gauge", "WaitInfo requests waiting.", std::to_string(waiters));
    Add(text, "rivuzovara_connections", "gauge", "Open connections.", std::to_string(connections));
    Add(text, "rivuzovara_connections_refused_total", "counter", "Connections closed at once: too many open.",
        std::to_string(connectionsRefused));
    Add(text, "rivuzovara_password_guesses_refused_total", "counter",
        "Account calls answered as a wrong password unchecked: too many wrong ones from the client.",
        std::to_string(guessesRefused));
    Add(text, "rivuzovara_errors_total", "counter", "Store failures and internal errors.", std::to_string(errors));
    Add(text, "rivuzovara_store_commit_seconds_sum", "counter", "Time spent in group commits.",
        Seconds(commitMicroseconds));
    Add(text, "rivuzovara_store_commit_seconds_count", "counter", "Group commits.", std::to_string(commits));
    Add(text, "rivuzovara_store_commit_seconds_max", "gauge", "Longest group commit.", Seconds(commitMicrosecondsMax));
    return text;
}

} // namespace rivuzovara
