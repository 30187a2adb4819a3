#include "history/HistoryStatements.h"

QString HistoryShopsSql()
{
    return QStringLiteral("select * from [user]");
}
