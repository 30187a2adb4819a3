#pragma once
// What the monitoring and presence threads need of the visitor list page,
// without seeing a widget: the refill request (blocking: returns after the
// page has refilled on the window's thread), the presence-updated request,
// the three presence lists under their one lock, and the IP locator the page
// owns. The page implements it and registers itself; tests fake it.
#include <QString>
#include <QStringList>

#include <mutex>

class CIpLocator;

// The visitor names and IM IDs the presence thread asks about, and the names
// it found online. Every access holds `lock`.
struct CPresenceLists
{
    std::mutex lock;
    QStringList names;
    QStringList imIds;
    QStringList onlineNames;
};

class IVisitorListBridge
{
public:
    virtual ~IVisitorListBridge() = default;
    // Refill the list from the database; returns once the window's thread has done it.
    virtual void RequestRefill() = 0;
    // Re-mark online visitors; returns once the window's thread has done it.
    virtual void RequestMarkOnline() = 0;
    virtual CPresenceLists& PresenceLists() = 0;
    // May be null when the page has none.
    virtual CIpLocator* IpLocator() = 0;
};

void SetVisitorListBridge(IVisitorListBridge* bridge);
IVisitorListBridge* VisitorListBridge();
