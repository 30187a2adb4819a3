#include "store/StoreCopy.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"

#include <QStringList>

namespace {

// Rows per transaction on the team store: one commit per row would make a big
// store's copy last minutes.
constexpr int kRowsPerCommit = 500;

// How a row already on the team store takes one column from the local row.
enum class ECarry
{
    None,
    Greater, // the greater number: a view number only ever counts up
    Missing, // where the team row has none
};

struct CTableCopy
{
    QString table;
    QStringList columns;
    QStringList keys;
    int CStoreCopyCounts::*copied;
    int CStoreCopyCounts::*there;
    ECarry carry = ECarry::None;
    QString carried{};
    // Columns that must be the same too before the value is carried (numbers of two web IDs do not compare).
    QStringList carriedAlsoSame{};
};

// A local value as it goes into a team statement: numbers as numbers, nothing
// as null, everything else as the text the local store gives for it (dates in
// the store's own form).
QString Literal(const CVariant& value)
{
    if (value.type == EVarType::Empty || value.type == EVarType::Null)
        return QStringLiteral("null");
    if (value.type == EVarType::Bool)
        return value.integer != 0 ? QStringLiteral("1") : QStringLiteral("0");
    if (IsIntegerType(value.type))
        return QString::number(value.integer);
    return QLatin1Char('\'') + SqlText(VariantToText(value)) + QLatin1Char('\'');
}

QString Condition(const QString& column, const QString& literal)
{
    return literal == QLatin1String("null") ? QStringLiteral("[%1] is null").arg(column)
                                            : QStringLiteral("[%1] = %2").arg(column, literal);
}

// The statement that brings a row already there up to date, empty when the local row has nothing to carry.
QString CarryStatement(const CTableCopy& copy, const QStringList& values, QStringList conditions)
{
    if (copy.carry == ECarry::None)
        return {};
    const QString value = values[copy.columns.indexOf(copy.carried)];
    if (value == QLatin1String("null") || value == QLatin1String("''") || value == QLatin1String("0"))
        return {};
    for (const QString& column : copy.carriedAlsoSame)
        conditions << Condition(column, values[copy.columns.indexOf(column)]);
    conditions << (copy.carry == ECarry::Greater ? QStringLiteral("coalesce([%1],0) < %2").arg(copy.carried, value)
                                                 : QStringLiteral("coalesce([%1],'') = ''").arg(copy.carried));
    return QStringLiteral("update [%1] set [%2] = %3 where %4")
        .arg(copy.table, copy.carried, value, conditions.join(QStringLiteral(" and ")));
}

QString Bracketed(const QStringList& names)
{
    QStringList out;
    for (const QString& name : names)
        out << QLatin1Char('[') + name + QLatin1Char(']');
    return out.join(QLatin1Char(','));
}

// Copies one table; the statement inserts the row only where no row with the
// same key exists (on the visits the store's unique index says the same).
bool CopyTable(const CTableCopy& copy, CAdoConnection& local, CAdoConnection& team, CStoreCopyCounts& counts,
               QString& error)
{
    CAdoRecordSet rows(&local);
    if (!rows.Open(QStringLiteral("select %1 from [%2] order by [id]").arg(Bracketed(copy.columns), copy.table))) {
        error = QStringLiteral("cannot read [%1] of the local store").arg(copy.table);
        return false;
    }
    int copied = 0;
    int there = 0;
    int updated = 0;
    int pending = 0;
    auto commit = [&]() {
        if (pending > 0 && !team.Execute(QStringLiteral("commit")))
            return false;
        counts.*copy.copied += copied;
        counts.*copy.there += there;
        counts.thereUpdated += updated;
        copied = there = updated = pending = 0;
        return true;
    };
    for (; !rows.IsEOF(); rows.MoveNext()) {
        if (pending == 0 && !team.Execute(QStringLiteral("begin"))) {
            error = QStringLiteral("cannot begin a transaction on the team store");
            return false;
        }
        QStringList values;
        QStringList conditions;
        for (int i = 0; i < copy.columns.size(); ++i) {
            values << Literal(rows.GetValue(i));
            if (copy.keys.contains(copy.columns[i]))
                conditions << Condition(copy.columns[i], values.last());
        }
        const int changed = team.ExecuteChanges(
            QStringLiteral("insert into [%1] (%2) select %3 where not exists (select 1 from [%1] where %4)")
                .arg(copy.table, Bracketed(copy.columns), values.join(QLatin1Char(',')),
                     conditions.join(QStringLiteral(" and "))));
        if (changed < 0) {
            team.Execute(QStringLiteral("rollback"));
            error = QStringLiteral("a row of [%1] could not be written to the team store").arg(copy.table);
            return false;
        }
        (changed > 0 ? copied : there) += 1;
        const QString carry = changed > 0 ? QString() : CarryStatement(copy, values, conditions);
        const int carriedNow = carry.isEmpty() ? 0 : team.ExecuteChanges(carry);
        if (carriedNow < 0) {
            team.Execute(QStringLiteral("rollback"));
            error = QStringLiteral("a row of [%1] could not be brought up to date on the team store").arg(copy.table);
            return false;
        }
        updated += carriedNow > 0 ? 1 : 0;
        if (++pending == kRowsPerCommit && !commit()) {
            error = QStringLiteral("the team store refused to commit rows of [%1]").arg(copy.table);
            return false;
        }
    }
    if (!commit()) {
        error = QStringLiteral("the team store refused to commit rows of [%1]").arg(copy.table);
        return false;
    }
    return true;
}

} // namespace

bool CopyStoreToTeam(CAdoConnection& local, CAdoConnection& team, CStoreCopyCounts& counts, QString& error)
{
    const CTableCopy tables[] = {
        {QStringLiteral("user"),
         {QStringLiteral("username"), QStringLiteral("usersmailname"), QStringLiteral("password"),
          QStringLiteral("webid"), QStringLiteral("messageinfo"), QStringLiteral("autosend"),
          QStringLiteral("viewseq")},
         {QStringLiteral("username")},
         &CStoreCopyCounts::accountsCopied,
         &CStoreCopyCounts::accountsThere,
         // The views up to the local number were heard here (and are copied below): the team store
         // must not start from the service's latest number and skip the ones heard since.
         ECarry::Greater,
         QStringLiteral("viewseq"),
         {QStringLiteral("webid")}},
        {QStringLiteral("client"),
         {QStringLiteral("guestname"), QStringLiteral("ip"), QStringLiteral("shopname"), QStringLiteral("lasttime"),
          QStringLiteral("count"), QStringLiteral("city"), QStringLiteral("shopurl"), QStringLiteral("imuid")},
         {QStringLiteral("guestname"), QStringLiteral("shopname")},
         &CStoreCopyCounts::visitsCopied,
         &CStoreCopyCounts::visitsThere},
        {QStringLiteral("greetlog"),
         {QStringLiteral("shopname"), QStringLiteral("guestname"), QStringLiteral("senttime"), QStringLiteral("ok"),
          QStringLiteral("reason")},
         {QStringLiteral("shopname"), QStringLiteral("guestname"), QStringLiteral("senttime"), QStringLiteral("ok")},
         &CStoreCopyCounts::greetingsCopied,
         &CStoreCopyCounts::greetingsThere,
         // Not a key: a row an earlier copy left without its reason gets it rather than a twin.
         ECarry::Missing,
         QStringLiteral("reason"),
         {}},
        {QStringLiteral("pageview"),
         {QStringLiteral("shopname"), QStringLiteral("ip"), QStringLiteral("city"), QStringLiteral("shopurl"),
          QStringLiteral("viewtime"), QStringLiteral("seq")},
         {QStringLiteral("shopname"), QStringLiteral("seq")},
         &CStoreCopyCounts::pageViewsCopied,
         &CStoreCopyCounts::pageViewsThere},
    };
    for (const CTableCopy& table : tables) {
        if (!CopyTable(table, local, team, counts, error)) {
            qCWarning(LogStore).noquote() << "copy to the team store stopped:" << error;
            return false;
        }
    }
    qCInfo(LogStore).noquote() << "copied to the team store:" << StoreCopyReport(counts);
    return true;
}

QString StoreCopyReport(const CStoreCopyCounts& counts)
{
    return QStringLiteral("%1 accounts, %2 visits, %3 greeting log rows, %4 page views copied; "
                          "already there: %5 accounts, %6 visits, %7 greeting log rows, %8 page views; "
                          "%9 rows already there took the local view number or greeting reason")
        .arg(counts.accountsCopied)
        .arg(counts.visitsCopied)
        .arg(counts.greetingsCopied)
        .arg(counts.pageViewsCopied)
        .arg(counts.accountsThere)
        .arg(counts.visitsThere)
        .arg(counts.greetingsThere)
        .arg(counts.pageViewsThere)
        .arg(counts.thereUpdated);
}
