// Linked only while the PostgreSQL backend (server/pg) is not part of the build.
#include "ViewStore.h"

namespace rivuzovara {

std::unique_ptr<IViewStore> MakePgViewStore(const std::string&)
{
    return nullptr;
}

} // namespace rivuzovara
