#include "store/StoreConfig.h"

#include "platform/Log.h"

#include <libpq-fe.h>

#include <QByteArrayList>
#include <QSettings>
#include <QStringList>
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

namespace {
// A password may also sit in sslpassword, or in a server setting passed with options.
const QByteArrayList kSecretKeys = {"password", "sslpassword", "options"};
} // namespace

QString TeamUrlForDisplay(const QString& url)
{
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.toUtf8().constData(), &parseError);
    if (!options) {
        PQfreemem(parseError);
        return QStringLiteral("(无法识别的连接地址)");
    }
    QStringList parts;
    for (PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val || !*option->val || kSecretKeys.contains(QByteArray(option->keyword)))
            continue;
        parts << QStringLiteral("%1=%2").arg(QString::fromUtf8(option->keyword), QString::fromUtf8(option->val));
    }
    PQconninfoFree(options);
    return parts.join(QLatin1Char(' '));
}
