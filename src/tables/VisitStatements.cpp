#include "tables/VisitStatements.h"

#include "store/AdoConnection.h"
#include "store/Schema.h"

#include <QStringList>

#include <algorithm>

namespace {

// The hour key "yyyy-MM-dd HH" of a visit, written as the index on it is.
const QString kHourKey = QStringLiteral("substr([lasttime],1,13)");

} // namespace

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

QString LatestVisitsSql()
{
    return QStringLiteral("select * from [client] order by [lasttime] desc");
}

QString VisitsByIdsSql(const QList<qint64>& ids)
{
    return QStringLiteral("select * from [client] where [id] in (%1) order by [id] desc").arg(SqlNumberList(ids));
}

QString DeleteVisitsBeforeSql(const QString& cutoff, int most)
{
    return QStringLiteral("delete from [client] where [id] in (select [id] from [client] where "
                          "[lasttime] < '%1' order by [lasttime] limit %2)")
        .arg(SqlText(cutoff))
        .arg(most);
}

QString DeleteVisitorSql(const QString& visitor)
{
    return QStringLiteral("delete from [client] where [guestname] = '%1'").arg(SqlText(visitor));
}

QString StatsDayHourSql(const CStatsQuery& query)
{
    return QStringLiteral("select %1, count(*) from [client]%2 group by %1")
        .arg(kHourKey, StatsWhere(query, QStringLiteral("[shopname]"), kHourKey));
}

// One arg() call each: a second call would also fill a "%1" inside the shop's name.
QString StatsTopItemsSql(const CStatsQuery& query)
{
    // Ties keep a fixed order so the bars do not shuffle between refreshes.
    return QStringLiteral("select [shopurl], count(*) from [client]%1 group by [shopurl] "
                          "order by count(*) desc, [shopurl] limit %2")
        .arg(StatsWhere(query, QStringLiteral("[shopname]"), QStringLiteral("[lasttime]")),
             QString::number(kStatsTopCount));
}

QString StatsTopRegionsSql(const CStatsQuery& query)
{
    const QString region = CityCountrySql();
    return QStringLiteral("select %1, count(*) from [client]%2 group by %1 order by count(*) desc, %1 limit %3")
        .arg(region, StatsWhere(query, QStringLiteral("[shopname]"), QStringLiteral("[lasttime]")),
             QString::number(kStatsTopCount));
}

QString StatsReturningSql(const CStatsQuery& query)
{
    const QString earlierDay = QStringLiteral("exists (select 1 from [client] e where e.[guestname] = %1 and "
                                              "e.[shopname] = %2 and e.[lasttime] < substr(c.[lasttime],1,10))");
    if (StatsPeriodStart(query.period, query.today).isValid()) {
        // A period's visits, each looked up on the visitor index.
        return QStringLiteral("select substr(c.[lasttime],1,10), count(*) from [client] c%1 and %2 "
                              "group by substr(c.[lasttime],1,10)")
            .arg(StatsWhere(query, QStringLiteral("c.[shopname]"), QStringLiteral("c.[lasttime]")),
                 earlierDay.arg(QStringLiteral("c.[guestname]"), QStringLiteral("c.[shopname]")));
    }
    // Every visit: only a visitor with more than one row can return. Such visitors are
    // found by grouping the visitor index on the name alone (cheaper than on name and
    // shop, a group for nearly every row); their visits are then looked up as above.
    CStatsQuery shopOnly = query;
    shopOnly.period = EStatsPeriod::All;
    const QString shop =
        query.shop.isEmpty() ? QString() : QStringLiteral("c.[shopname] = '%1' and ").arg(SqlText(query.shop));
    return QStringLiteral("with [guests] as (select [guestname] as g from [client]%1 "
                          "group by [guestname] having count(*) > 1) "
                          "select substr(c.[lasttime],1,10), count(*) from [guests] "
                          "join [client] c on c.[guestname] = [guests].g where %2%3 "
                          "group by substr(c.[lasttime],1,10)")
        .arg(StatsWhere(shopOnly, QStringLiteral("[shopname]"), QString()), shop,
             earlierDay.arg(QStringLiteral("c.[guestname]"), QStringLiteral("c.[shopname]")));
}

QString VisitLastIdSql()
{
    return QStringLiteral("select ifnull(max([id]),0) from [client]");
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
