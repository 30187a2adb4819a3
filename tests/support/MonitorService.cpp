#include "support/MonitorService.h"

#include "store/AdoRecordSet.h"

bool AddImVisitor(const CLocalService& service, const QString& imName, const QString& name, const QString& imId)
{
    QString call = QStringLiteral("/admin/im/visit?imname=%1&name=%2").arg(QueryValue(imName), QueryValue(name));
    if (!imId.isEmpty())
        call += QStringLiteral("&imid=") + QueryValue(imId);
    return service.GetIm(call) == 200;
}

bool SetImPresence(const CLocalService& service, const QString& imId, const QString& state)
{
    return service.GetIm(
               QStringLiteral("/admin/im/presence?imid=%1&state=%2").arg(QueryValue(imId), QueryValue(state))) == 200;
}

bool SetItemTitle(const CLocalService& service, int item, const QString& title)
{
    return service.GetIm(QStringLiteral("/admin/im/item?n=%1&title=%2").arg(item).arg(QueryValue(title))) == 200;
}

bool ClearIm(const CLocalService& service)
{
    return service.GetIm(QStringLiteral("/admin/im/clear")) == 200;
}

std::vector<QStringList> ReadRows(const QString& sql)
{
    std::vector<QStringList> rows;
    CAdoRecordSet recordSet;
    if (!recordSet.Open(sql))
        return rows;
    while (!recordSet.IsEOF()) {
        QStringList row;
        for (int i = 0; i < recordSet.GetFieldsCount(); ++i) {
            QString value;
            recordSet.GetCollect(i, value);
            row.append(value);
        }
        rows.push_back(row);
        recordSet.MoveNext();
    }
    return rows;
}
