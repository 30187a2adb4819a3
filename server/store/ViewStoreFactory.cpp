#include "ViewStore.h"

#include <filesystem>

namespace rivuzovara {

std::unique_ptr<IViewStore> MakeViewStore(const std::string& url, const std::string& dataDir, std::string& error)
{
    if (url.empty() || url == "sqlite:")
        return MakeSqliteViewStore((std::filesystem::path(dataDir) / "tracking.db").string());
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
        auto store = MakePgViewStore(url);
        if (!store)
            error = "this rivuzovara was built without PostgreSQL";
        return store;
    }
    error = "unknown store " + url.substr(0, url.find(':')) + " (sqlite: or postgresql://)";
    return nullptr;
}

} // namespace rivuzovara
