#include "tables/StatsQuery.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"

#include <QStringList>

QDate StatsPeriodStart(EStatsPeriod period, const QDate& today)
{
    switch (period) {
    case EStatsPeriod::Today:
        return today;
    case EStatsPeriod::Last7Days:
        return today.addDays(-6);
    case EStatsPeriod::Last30Days:
        return today.addDays(-29);
    case EStatsPeriod::All:
        break;
    }
    return QDate();
}

QString StatsDayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QString StatsWhere(const CStatsQuery& query, const QString& shopColumn, const QString& timeExpression)
{
    QStringList conditions;
    if (!query.shop.isEmpty())
        conditions << QStringLiteral("%1 = '%2'").arg(shopColumn, SqlText(query.shop));
    const QDate start = StatsPeriodStart(query.period, query.today);
    if (start.isValid()) {
        conditions << QStringLiteral("%1 >= '%2' and %1 < '%3'")
                          .arg(timeExpression, StatsDayText(start), StatsDayText(query.today.addDays(1)));
    }
    return conditions.isEmpty() ? QString() : QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "));
}

bool ReadCountRows(CAdoConnection* connection, const QString& sql, const CCountRowReader& row)
{
    CAdoRecordSet recordSet(connection);
    if (!recordSet.Open(sql)) {
        qCWarning(LogStats) << "statement failed:" << sql.left(120);
        return false;
    }
    const bool third = recordSet.GetFieldsCount() > 2;
    while (!recordSet.IsEOF()) {
        QString key;
        int first = 0;
        int second = 0;
        recordSet.GetCollect(0, key);
        recordSet.GetCollectInt(1, first);
        if (third)
            recordSet.GetCollectInt(2, second);
        row(key, first, second);
        recordSet.MoveNext();
    }
    return true;
}
