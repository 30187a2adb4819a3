#include "notify/OwnerNotifier.h"

#include <atomic>

namespace {
std::atomic<IOwnerNotifier*> g_notifier{nullptr};
}

void SetOwnerNotifier(IOwnerNotifier* notifier)
{
    g_notifier.store(notifier);
}

IOwnerNotifier* OwnerNotifier()
{
    return g_notifier.load();
}

void ShowStatusMessage(const QString& text)
{
    if (IOwnerNotifier* notifier = g_notifier.load())
        notifier->ShowStatusMessage(text);
}

void AlertOwner(const QString& text)
{
    if (IOwnerNotifier* notifier = g_notifier.load())
        notifier->AlertOwner(text);
}

void AlertOwnerAbout(const QString& text, const QString& shop, const QString& visitor)
{
    if (IOwnerNotifier* notifier = g_notifier.load())
        notifier->AlertOwnerAbout(text, shop, visitor);
}
