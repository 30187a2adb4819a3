#include "accounts/AccountStates.h"

#include "net/TrackingService.h"
#include "platform/MessageBox.h"
#include "tables/AccountTable.h"

QString FindFrozenAccounts()
{
    // The accounts are read first, so no statement stays open across the requests.
    QString list;
    for (const CAccount& account : CAccountTable().ReadAll()) {
        QString reply;
        if (GetUserState(account.userName, reply) && reply.contains(QLatin1String("-ERR")))
            list += account.userName + QLatin1Char(' ');
    }
    return list;
}

void CheckAccountStates()
{
    const QString list = FindFrozenAccounts();
    if (list.isEmpty())
        return;
    ShowMessageBox(
        QStringLiteral("您的账户 %1被冻结！\r\n系统将无法检测到 %1的访问客户！\r\n请联系供应商解决！").arg(list),
        AppTitle(), EMsgIcon::Exclamation);
}
