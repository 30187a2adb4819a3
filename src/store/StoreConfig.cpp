#include "store/StoreConfig.h"

#include "platform/Log.h"

#include <QSettings>
#include <QSysInfo>

CStoreConfig ReadStoreConfig(const QString& dataDir)
{
    QSettings ini(dataDir + QStringLiteral("/mirelhelper.ini"), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("store"));
    const QString backend = ini.value(QStringLiteral("backend"), QStringLiteral("sqlite")).toString().trimmed();
    CStoreConfig config;
    config.team = backend.compare(QLatin1String("postgresql"), Qt::CaseInsensitive) == 0;
    if (!config.team && backend.compare(QLatin1String("sqlite"), Qt::CaseInsensitive) != 0)
        qCWarning(LogStore).noquote() << "unknown [store] backend" << backend << "- using Info.mdb";
    config.url = ini.value(QStringLiteral("url")).toString().trimmed();
    config.machine = ini.value(QStringLiteral("machine")).toString().trimmed();
    if (config.machine.isEmpty())
        config.machine = QSysInfo::machineHostName();
    return config;
}
