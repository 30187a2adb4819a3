#pragma once
// How worker threads reach the main window's two services: the transient
// status-bar message and the owner alert (sound plus balloon). The main
// frame implements it and registers itself; both calls are safe from any
// thread and return at once. Without a registered notifier they do nothing.
#include <QString>

class IOwnerNotifier
{
public:
    virtual ~IOwnerNotifier() = default;
    virtual void ShowStatusMessage(const QString& text) = 0;
    virtual void AlertOwner(const QString& text) = 0;
    // An alert about one visitor of a shop: a click on it opens the chat with
    // them. Notifiers that do not offer that show the text alone.
    virtual void AlertOwnerAbout(const QString& text, const QString& shop, const QString& visitor)
    {
        Q_UNUSED(shop);
        Q_UNUSED(visitor);
        AlertOwner(text);
    }
};

void SetOwnerNotifier(IOwnerNotifier* notifier);
IOwnerNotifier* OwnerNotifier();

void ShowStatusMessage(const QString& text);
void AlertOwner(const QString& text);
void AlertOwnerAbout(const QString& text, const QString& shop, const QString& visitor);
