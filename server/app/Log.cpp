#include "Log.h"

#include <cstdio>
#include <cstdlib>

namespace rivuzovara {

void Log(ELogLevel level, const std::string& line)
{
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    // One write per line so that lines of different threads never mix.
    std::string text = journal ? "<" + std::to_string(static_cast<int>(level)) + ">" : std::string();
    text += "rivuzovara: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

} // namespace rivuzovara
