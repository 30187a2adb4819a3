#include "monitor/VisitorListBridge.h"

#include <atomic>

namespace {
std::atomic<IVisitorListBridge*> g_bridge{nullptr};
}

void SetVisitorListBridge(IVisitorListBridge* bridge)
{
    g_bridge.store(bridge);
}

IVisitorListBridge* VisitorListBridge()
{
    return g_bridge.load();
}
