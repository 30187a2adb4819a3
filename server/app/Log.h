#pragma once
// One line per event on stderr. Under systemd (JOURNAL_STREAM set) each line
// starts with its syslog priority, which journald reads. Never a password.
#include <string>

namespace rivuzovara {

enum class ELogLevel
{
    Error = 3,
    Warning = 4,
    Info = 6,
};

void Log(ELogLevel level, const std::string& line);
inline void LogError(const std::string& line)
{
    Log(ELogLevel::Error, line);
}
inline void LogWarning(const std::string& line)
{
    Log(ELogLevel::Warning, line);
}
inline void LogInfo(const std::string& line)
{
    Log(ELogLevel::Info, line);
}

} // namespace rivuzovara
