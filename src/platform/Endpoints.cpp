#include "platform/Endpoints.h"

#include "platform/PrivateFiles.h"
#include "platform/TextCodec.h"

#include <QSettings>

#include <mutex>

namespace {

std::mutex g_endpointsMutex;
CEndpoints g_endpoints;

QString Base(QString value)
{
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value;
}

void ReadOrWrite(QSettings& ini, const QString& key, QString& value, bool isBase)
{
    if (ini.contains(key)) {
        const QString stored = ini.value(key).toString().trimmed();
        if (!stored.isEmpty())
            value = isBase ? Base(stored) : stored;
    } else {
        ini.setValue(key, value);
    }
}

} // namespace

CEndpoints LoadEndpoints(const QString& dir)
{
    CEndpoints e;
    QSettings ini(dir + QStringLiteral("/mirelhelper.ini"), QSettings::IniFormat);
    ReadOrWrite(ini, QStringLiteral("endpoints/tracking_base"), e.trackingBase, true);
    ReadOrWrite(ini, QStringLiteral("endpoints/im_profile_base"), e.imProfileBase, true);
    ReadOrWrite(ini, QStringLiteral("endpoints/im_portrait_base"), e.imPortraitBase, true);
    ReadOrWrite(ini, QStringLiteral("endpoints/im_presence_base"), e.imPresenceBase, true);
    ReadOrWrite(ini, QStringLiteral("endpoints/im_message_page"), e.imMessagePage, true);
    ReadOrWrite(ini, QStringLiteral("endpoints/im_image_base"), e.imImageBase, true);
    ReadOrWrite(ini, QStringLiteral("endpoints/maker_site"), e.makerSite, false);
    ReadOrWrite(ini, QStringLiteral("sound/device"), e.soundDevice, false);
    ReadOrWrite(ini, QStringLiteral("text/codepage"), e.codePage, false);
    ini.sync();
    // A team store's address in it may carry a password.
    KeepFilePrivate(ini.fileName());
    SetEndpoints(e);
    return e;
}

const CEndpoints& Endpoints()
{
    std::lock_guard lock(g_endpointsMutex);
    return g_endpoints;
}

void SetEndpoints(const CEndpoints& endpoints)
{
    std::lock_guard lock(g_endpointsMutex);
    g_endpoints = endpoints;
    SetCodePage(endpoints.codePage.toLatin1());
}
