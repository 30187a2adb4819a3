#include "store/StoreStartup.h"

#include "platform/MessageBox.h"
#include "platform/PrivateFiles.h"
#include "store/AdoConnection.h"
#include "store/Schema.h"
#include "store/StoreConfig.h"

#include <QDir>

QString StoreOpenFailureText(const QString& path, const QString& reason)
{
    return QStringLiteral("无法打开数据库文件:\r\n%1\r\n\r\n原因:%2\r\n\r\n"
                          "该文件没有被改动.程序将继续运行,但不会显示或保存任何记录!")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString TeamStoreFailureText(const QString& where, const QString& reason)
{
    return QStringLiteral("无法连接团队数据库:\r\n%1\r\n\r\n原因:%2\r\n\r\n"
                          "请检查mirelhelper.ini中[store]的设置.程序将继续运行,但不会显示或保存任何记录!")
        .arg(where, reason);
}

namespace {

bool OpenTeamStore(const CStoreConfig& config)
{
    const bool opened = g_pConnection->ConnectTeam(config.url, config.machine);
    if (!opened) {
        ShowMessageBox(TeamStoreFailureText(TeamUrlForDisplay(config.url), g_pConnection->LastOpenError()), AppTitle(),
                       EMsgIcon::Exclamation);
    }
    // The greeting queue is shared with the other machines: nothing of theirs is emptied here,
    // and the server's tables are made in their present shape.
    return opened;
}

} // namespace

bool OpenStore(const QString& dataDir)
{
    CloseStore();
    g_pConnection = new CAdoConnection;
    const CStoreConfig config = ReadStoreConfig(dataDir);
    if (config.team)
        return OpenTeamStore(config);
    const QString path = dataDir + QStringLiteral("/Info.mdb");
    const bool opened = g_pConnection->Connect(path, QString(), -1);
    // A new store and its journal files are made under the umask; they hold passwords.
    SecureDataFiles(dataDir);
    if (!opened)
        ShowMessageBox(StoreOpenFailureText(path, g_pConnection->LastOpenError()), AppTitle(), EMsgIcon::Exclamation);
    // Greetings queued by an earlier run are never sent.
    g_pConnection->Execute(QStringLiteral("delete from [AutoSend]"));
    UpgradeSchema(g_pConnection);
    return opened;
}

void CloseStore()
{
    // A worker that outlived its stop request still finds a connection, a closed one
    // whose every statement fails, instead of a freed object or a null pointer.
    static CAdoConnection closedConnection;
    CAdoConnection* connection = g_pConnection;
    if (!connection || connection == &closedConnection)
        return;
    g_pConnection = &closedConnection;
    // Close waits for statements still running on other threads.
    connection->Close();
    delete connection;
}
