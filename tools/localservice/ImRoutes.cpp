#include "ImRoutes.h"

#include <httplib.h>

void RegisterImRoutes(httplib::Server& /*server*/, const std::string& /*dataDir*/)
{
    // Filled in by the IM web side.
}
