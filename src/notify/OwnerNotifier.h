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
};

void SetOwnerNotifier(IOwnerNotifier* notifier);
IOwnerNotifier* OwnerNotifier();

void ShowStatusMessage(const QString& text);
void AlertOwner(const QString& text);
