#include "store/Schema.h"

#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "store/SettingsDefaults.h"

bool HasColumn(CAdoRecordSet& recordSet, const char* name)
{
    const QString wanted = QString::fromUtf8(name);
    const int count = recordSet.GetFieldsCount();
    for (int i = 0; i < count; ++i) {
        if (recordSet.GetFieldName(i).compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

namespace {

// Earlier versions gave the ninth [client] column, the visitor's IM ID, another
// name; it is renamed in place so every stored visit keeps its IM ID.
void RenameImIdColumn(CAdoConnection* connection)
{
    CAdoRecordSet recordSet(connection);
    if (!recordSet.Open(QStringLiteral("select * from [client] where 0")))
        return;
    if (HasColumn(recordSet, "imuid") || recordSet.GetFieldsCount() <= ClientColumn::kImUid)
        return;
    const QString earlier = recordSet.GetFieldName(ClientColumn::kImUid);
    recordSet.Close();
    connection->Execute(QStringLiteral("alter table [client] rename column [%1] to [imuid]").arg(earlier));
}

// A column a later version added, given to a store from before it (existing columns never change).
void AddColumnIfMissing(CAdoConnection* connection, const QString& table, const char* column, const QString& type)
{
    CAdoRecordSet recordSet(connection);
    if (!recordSet.Open(QStringLiteral("select * from [%1] where 0").arg(table)))
        return;
    const bool present = HasColumn(recordSet, column);
    recordSet.Close();
    if (!present)
        connection->Execute(
            QStringLiteral("alter table [%1] add column [%2] %3").arg(table, QLatin1String(column), type));
}

struct CIndex
{
    const char* name;
    const char* table;
    QString columns;
};

// The indexes the statistics page's grouped statements read instead of the table.
QList<CIndex> StatisticsIndexes()
{
    return {
        {"client_guest_shop_time", "client", QStringLiteral("[guestname], [shopname], [lasttime]")},
        {"client_hour_shop", "client", QStringLiteral("substr([lasttime],1,13), [shopname]")},
        {"client_item_shop", "client", QStringLiteral("[shopurl], [shopname], [lasttime]")},
        {"client_region_shop", "client", CityCountrySql() + QStringLiteral(", [shopname], [lasttime]")},
        {"greetlog_senttime", "greetlog", QStringLiteral("[senttime]")},
    };
}

QString CreateIndexStatement(const CIndex& index)
{
    return QStringLiteral("create index if not exists [%1] on [%2] (%3)")
        .arg(QLatin1String(index.name), QLatin1String(index.table), index.columns);
}

// The names of the store's indexes; known is false (and the list empty) when the store cannot tell.
QStringList IndexNames(CAdoConnection* connection, bool& known)
{
    QStringList names;
    CAdoRecordSet recordSet(connection);
    known = recordSet.Open(QStringLiteral("select [name] from sqlite_master where [type] = 'index'"));
    while (known && !recordSet.IsEOF()) {
        QString name;
        recordSet.GetCollect(0, name);
        names << name;
        recordSet.MoveNext();
    }
    return names;
}

} // namespace

QString GreetLogStatement()
{
    return QStringLiteral(
        "create table if not exists [greetlog] ([id] integer primary key autoincrement, "
        "[shopname] Text, [guestname] Text, [senttime] DateTime, [ok] YesNo default 0, [reason] Text)");
}

QList<CStoreColumn> AdvSettingColumns()
{
    const auto number = [](int value) { return QString::number(value); };
    return {{"quieton", "YesNo", number(0)},
            {"quietfrom", "Long", number(AdvancedDefault::kQuietFrom)},
            {"quietto", "Long", number(AdvancedDefault::kQuietTo)},
            {"burston", "YesNo", number(0)},
            {"budgeton", "YesNo", number(0)},
            {"budget", "Long", number(AdvancedDefault::kBudget)},
            {"onceon", "YesNo", number(0)},
            {"oncedays", "Long", number(AdvancedDefault::kOnceDays)},
            {"watchlist", "Text", QStringLiteral("''")},
            {"keepdays", "Long", number(AdvancedDefault::kKeepDays)}};
}

QString AdvSettingTableStatement()
{
    QString columns;
    for (const CStoreColumn& column : AdvSettingColumns())
        columns += QStringLiteral(", [%1] %2 default %3")
                       .arg(QLatin1String(column.name), QLatin1String(column.type), column.byDefault);
    return QStringLiteral("create table if not exists [advsetting] ([id] Long primary key%1)").arg(columns);
}

QString AdvSettingRowStatement()
{
    return QStringLiteral("insert into [advsetting] ([id]) select 1 where not exists "
                          "(select 1 from [advsetting] where [id] = 1)");
}

QStringList PageViewStatements()
{
    // The unique index is what keeps a view reported twice (a repeated reply, a restart) to one row.
    return {
        QStringLiteral("create table if not exists [pageview] ([id] integer primary key autoincrement, "
                       "[shopname] Text, [ip] Text, [city] Text, [shopurl] Text, [viewtime] DateTime, [seq] Long)"),
        QStringLiteral("create unique index if not exists [pageview_shop_seq] on [pageview] ([shopname], [seq])"),
        QStringLiteral("create index if not exists [pageview_viewtime] on [pageview] ([viewtime])"),
    };
}

QStringList ClientIndexStatements()
{
    return {
        QStringLiteral("create index if not exists [client_guest_shop] on [client] ([guestname], [shopname])"),
        QStringLiteral("create index if not exists [client_lasttime] on [client] ([lasttime])"),
    };
}

void UpgradeSchema(CAdoConnection* connection)
{
    if (!connection)
        return;
    // Nothing reads it yet; adding it keeps older files in the shape new ones have.
    AddColumnIfMissing(connection, QStringLiteral("sysseting"), "AddRandom", QStringLiteral("YesNo default 0"));
    RenameImIdColumn(connection);
    connection->Execute(GreetLogStatement());
    // Logs from before the reasons: a greeting not sent then keeps an empty reason.
    AddColumnIfMissing(connection, QStringLiteral("greetlog"), "reason", QStringLiteral("Text"));
    connection->Execute(AdvSettingTableStatement());
    connection->Execute(AdvSettingRowStatement());
    // Off in stores from before automatic deletion, so nothing is deleted until the owner chooses.
    AddColumnIfMissing(connection, QStringLiteral("advsetting"), "keepdays", QStringLiteral("Long default 0"));
    // Stores from before the wake-up: no views kept yet, every account starts before its first view.
    for (const QString& statement : PageViewStatements())
        connection->Execute(statement);
    AddColumnIfMissing(connection, QStringLiteral("user"), "viewseq", QStringLiteral("Long default 0"));
    // Stores from before the indexes: the visitor list's latest 30 must not read a long [client] whole,
    // nor the per-poll visitor check. The statistics indexes are built by the statistics page, off the
    // window's thread; their visitor index (with the time) then takes the place of the one without.
    bool known = false;
    if (!IndexNames(connection, known).contains(QLatin1String("client_guest_shop_time")))
        connection->Execute(ClientIndexStatements()[0]);
    connection->Execute(ClientIndexStatements()[1]);
}

QStringList StatisticsIndexWork(CAdoConnection* connection)
{
    // The team store's server gets its indexes with its schema.
    if (!connection || connection->IsTeamStore())
        return {};
    bool known = false;
    const QStringList present = IndexNames(connection, known);
    if (!known)
        return {};
    QStringList work;
    for (const CIndex& index : StatisticsIndexes()) {
        if (!present.contains(QLatin1String(index.name)))
            work << CreateIndexStatement(index);
    }
    if (present.contains(QLatin1String("client_guest_shop")))
        work << QStringLiteral("drop index if exists [client_guest_shop]");
    return work;
}

QString SettingsRowValues()
{
    using namespace SystemDefault;
    return QStringLiteral("(1,%1,%2,%3,%4,'%5',%6,%7,%8)")
        .arg(QString::number(kAutorun), QString::number(kNewStoreClientTip), QString::number(kReflashTime),
             QString::number(kSendStepTime), QLatin1String(kAutoSendName), QString::number(kHiEdition),
             QString::number(kGuestTip), QString::number(kPlaySound));
}

QString SettingsRowStatement()
{
    return QStringLiteral("insert into [sysseting] ([id],[autorun],[clienttip],[reflashtime],[sendsteptime],"
                          "[autosendname],[hiedition],[guesttip],[playsound]) values ") +
           SettingsRowValues();
}

QStringList NewStoreStatements()
{
    // Declared types name the store's value types (AutoNumber is SQLite's own
    // auto-incrementing key); the record set maps them back to the variant types.
    QStringList statements{
        QStringLiteral("create table [user] ([id] integer primary key autoincrement, [username] Text, "
                       "[usersmailname] Text, [password] Text, [webid] Text, [messageinfo] Text, "
                       "[autosend] YesNo default 0, [viewseq] Long default 0)"),
        QStringLiteral("create table [sysseting] ([id] Long primary key, [autorun] YesNo, [clienttip] YesNo, "
                       "[reflashtime] Long, [sendsteptime] Long, [autosendname] Text, [hiedition] Long, "
                       "[guesttip] YesNo, [playsound] YesNo, [AddRandom] YesNo default 0)"),
        SettingsRowStatement(),
        QStringLiteral("create table [client] ([id] integer primary key autoincrement, [guestname] Text, [ip] Text, "
                       "[shopname] Text, [lasttime] DateTime, [count] Long, [city] Text, [shopurl] Text, "
                       "[imuid] Text)"),
        // The visitor list reads the latest visits first; the per-poll visitor check
        // reads the statistics' visitor index.
        ClientIndexStatements()[1],
        QStringLiteral("create table [AutoSend] ([ClientName] Text, [UserName] Text, [Message] Text)"),
        GreetLogStatement(),
        AdvSettingTableStatement(),
        AdvSettingRowStatement(),
    };
    return statements + PageViewStatements() + StatisticsIndexStatements();
}

QString CityCountrySql()
{
    return QStringLiteral("substr([city],1,instr([city]||' ',' ')-1)");
}

QStringList StatisticsIndexStatements()
{
    QStringList statements;
    for (const CIndex& index : StatisticsIndexes())
        statements << CreateIndexStatement(index);
    return statements;
}

QStringList StatisticsIndexNames()
{
    QStringList names;
    for (const CIndex& index : StatisticsIndexes())
        names << QLatin1String(index.name);
    return names;
}
