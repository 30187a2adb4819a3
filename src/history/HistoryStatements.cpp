#include "history/HistoryStatements.h"

#include "store/AdoConnection.h"

#include <QStringList>

#include <algorithm>

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
    std::vector<qint64> ids;
    ids.reserve(size_t(idTexts.size()));
    for (const QString& id : idTexts) {
        if (IsWholeNumber(id))
            ids.push_back(id.toLongLong());
    }
    return HistoryDeleteIdsSql(std::move(ids));
}

QString HistoryDeleteIdsSql(std::vector<qint64> ids)
{
    // A run this long is cheaper as a range than as list values; a few dozen
    // ranges at most, as each is one more term of the condition.
    constexpr size_t kRangeIds = 64;
    constexpr size_t kMostRanges = 32;
    ids.erase(std::remove_if(ids.begin(), ids.end(), [](qint64 id) { return id < 0; }), ids.end());
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (ids.empty())
        return QString();
    if (ids.size() == 1)
        return HistoryDeleteRowSql(QString::number(ids.front()));

    struct CRun
    {
        size_t first, count;
    };
    std::vector<CRun> runs;
    for (size_t i = 0, end = 0; i < ids.size(); i = end) {
        end = i + 1;
        while (end < ids.size() && ids[end] == ids[end - 1] + 1)
            ++end;
        if (end - i >= kRangeIds)
            runs.push_back({i, end - i});
    }
    if (runs.size() > kMostRanges) {
        std::nth_element(runs.begin(), runs.begin() + kMostRanges, runs.end(),
                         [](const CRun& a, const CRun& b) { return a.count > b.count; });
        runs.resize(kMostRanges);
        std::sort(runs.begin(), runs.end(), [](const CRun& a, const CRun& b) { return a.first < b.first; });
    }
    QStringList terms;
    QString list;
    size_t next = 0;
    const auto addSingles = [&](size_t end) {
        for (; next < end; ++next) {
            if (!list.isEmpty())
                list += QLatin1Char(',');
            list += QString::number(ids[next]);
        }
    };
    for (const CRun& run : runs) {
        addSingles(run.first);
        terms << QStringLiteral("id between %1 and %2").arg(ids[run.first]).arg(ids[run.first + run.count - 1]);
        next = run.first + run.count;
    }
    addSingles(ids.size());
    // One list value instead of many literals: the statement stays small to parse.
    if (!list.isEmpty())
        terms << QStringLiteral("id in (select value from json_each('[%1]'))").arg(list);
    return QStringLiteral("delete from [client] where ") + terms.join(QStringLiteral(" or "));
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

qint64 WholeNumber(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9')
            return -1;
        value = value * 10 + (ch - '0');
    }
    return value;
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
