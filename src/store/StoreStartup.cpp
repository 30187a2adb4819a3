#include "store/StoreStartup.h"

#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/Schema.h"

#include <QDir>

QString StoreOpenFailureText(const QString& path, const QString& reason)
{
    return QStringLiteral("无法打开数据库文件:\r\n%1\r\n\r\n原因: %2\r\n\r\n"
                          "该文件没有被改动。程序将继续运行, 但不会显示或保存任何记录。")
        .arg(QDir::toNativeSeparators(path), reason);
}

bool OpenStore(const QString& dataDir)
{
    CloseStore();
    const QString path = dataDir + QStringLiteral("/Info.mdb");
    g_pConnection = new CAdoConnection;
    const bool opened = g_pConnection->Connect(path, QString(), -1);
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
