#include "history/HistoryStatements.h"

#include "store/AdoConnection.h"

QString HistoryShopsSql()
{
    return QStringLiteral("select * from [user]");
}

QString HistoryShowAllSql()
{
    return QStringLiteral("select * from [client] order by [id] desc");
}

QString HistoryDayStartText(const QDate& day)
{
    return QString::asprintf("%.4d-%.2d-%.2d 00:00:00", day.year(), day.month(), day.day());
}

QString HistoryDayEndText(const QDate& day)
{
    return QString::asprintf("%.4d-%.2d-%.2d 23:59:59", day.year(), day.month(), day.day());
}

QString HistoryDaySql(const QDate& day)
{
    return QStringLiteral("select * from [client] where lasttime between #%1# and #%2# order by [id] desc")
        .arg(HistoryDayStartText(day), HistoryDayEndText(day));
}

QString HistoryVisitorSql(const QString& visitor)
{
    return QStringLiteral("select * from [client] where guestname like '%%1%'order by [id] desc").arg(SqlText(visitor));
}

QString HistoryShopSql(const QString& shop)
{
    return QStringLiteral("select * from [client] where shopname like '%%1%'order by [id] desc").arg(SqlText(shop));
}

QString HistoryVisitSql(const QString& idText)
{
    if (!IsWholeNumber(idText))
        return QString();
    return QStringLiteral("select * from [client] where [id] = %1").arg(idText);
}

QString HistoryDeleteRowSql(const QString& idText)
{
    if (!IsWholeNumber(idText))
        return QString();
    return QStringLiteral("delete from [client] where id = %1").arg(idText);
}

QString HistoryDeleteRowsSql(const QStringList& idTexts)
{
    QString list;
    QString single;
    int count = 0;
    list.reserve(idTexts.size() * 8);
    for (const QString& id : idTexts) {
        if (!IsWholeNumber(id))
            continue;
        if (count++ > 0)
            list += QLatin1Char(',');
        list += id;
        single = id;
    }
    if (count == 0)
        return QString();
    if (count == 1)
        return HistoryDeleteRowSql(single);
    // One list value instead of a million literals: the statement stays small to parse.
    return QStringLiteral("delete from [client] where id in (select value from json_each('[%1]'))").arg(list);
}

QString HistoryDeleteRangeSql(const QDate& first, const QDate& last)
{
    return QStringLiteral("delete from [client] where lasttime between #%1# and #%2#")
        .arg(HistoryDayStartText(first), HistoryDayEndText(last));
}

QString HistoryRankingSql()
{
    // Ties keep a fixed order so the list does not shuffle between clicks.
    return QStringLiteral("select [shopurl],count([shopurl]) from [client] group by [shopurl] "
                          "order by count([shopurl]) desc, [shopurl]");
}

bool IsWholeNumber(const QString& text)
{
    // Eighteen digits always fit a 64-bit integer.
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const QChar ch : text) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return false;
    }
    return true;
}
