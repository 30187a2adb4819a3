#include "accounts/AccountStore.h"

#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"

#include <limits>

namespace {

// Switch columns count as on when nonzero, whatever type the store gives them.
bool SwitchAt(CAdoRecordSet& rs, int position)
{
    return VariantToInt(rs.GetValue(position)) != 0;
}

QString TextAt(CAdoRecordSet& rs, int position)
{
    QString text;
    rs.GetCollect(position, text);
    return text;
}

bool Execute(const QString& sql)
{
    return g_pConnection && g_pConnection->Execute(sql);
}

// An update that changed no row did not happen.
bool Update(const QString& sql)
{
    return g_pConnection && g_pConnection->ExecuteChanges(sql) > 0;
}

} // namespace

int WebIdToInt(const QString& webId)
{
    qsizetype i = 0;
    const qsizetype n = webId.size();
    while (i < n && (webId[i] == u' ' || (webId[i] >= u'\t' && webId[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < n && (webId[i] == u'+' || webId[i] == u'-')) {
        negative = webId[i] == u'-';
        ++i;
    }
    constexpr qint64 kLimit = qint64(std::numeric_limits<int>::max()) + 1;
    qint64 value = 0;
    for (; i < n && webId[i] >= u'0' && webId[i] <= u'9'; ++i)
        value = qMin(kLimit, value * 10 + (webId[i].unicode() - u'0'));
    if (negative)
        return static_cast<int>(-value);
    return static_cast<int>(qMin<qint64>(value, std::numeric_limits<int>::max()));
}

QString RemoveBlanks(const QString& text)
{
    QString result = text;
    result.remove(QLatin1Char(' '));
    return result;
}

QList<CAccountListEntry> ReadAccountList()
{
    QList<CAccountListEntry> entries;
    if (!g_pConnection)
        return entries;
    CAdoRecordSet rs(g_pConnection);
    if (!rs.Open(QStringLiteral("select * from [user] order by [id]")))
        return entries;
    while (!rs.IsEOF()) {
        CAccountListEntry entry;
        entry.userName = TextAt(rs, UserColumn::kUserName);
        entry.webId = WebIdToInt(TextAt(rs, UserColumn::kWebId));
        entries.append(entry);
        rs.MoveNext();
    }
    return entries;
}

EAccountLookup LookupAccount(const QString& userName)
{
    if (!g_pConnection)
        return EAccountLookup::Unreadable;
    CAdoRecordSet rs(g_pConnection);
    if (!rs.Open(QStringLiteral("select * from [user] where [username] = '%1'").arg(SqlText(userName))))
        return EAccountLookup::Unreadable;
    return rs.IsEOF() ? EAccountLookup::Missing : EAccountLookup::Exists;
}

bool ReadAccount(const QString& userName, CAccountRecord& account)
{
    if (!g_pConnection)
        return false;
    CAdoRecordSet rs(g_pConnection);
    if (!rs.Open(QStringLiteral("select * from [user] where [username] ='%1'").arg(SqlText(userName))) || rs.IsEOF())
        return false;
    account.userName = TextAt(rs, UserColumn::kUserName);
    account.greetingAccount = TextAt(rs, UserColumn::kUserSmallName);
    account.password = TextAt(rs, UserColumn::kPassword);
    account.webId = TextAt(rs, UserColumn::kWebId);
    account.greeting = TextAt(rs, UserColumn::kMessageInfo);
    account.autoSend = SwitchAt(rs, UserColumn::kAutoSend);
    return true;
}

// One pass of arg() over all values, so a value holding "%1" is never taken for a place-holder.
static QString Flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

QString InsertAccountSql(const CAccountRecord& account)
{
    return QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend]) "
                          "values ('%1','%2','%3','%4','%5',%6)")
        .arg(SqlText(account.userName), SqlText(account.greetingAccount), SqlText(account.password),
             SqlText(account.webId), SqlText(account.greeting), Flag(account.autoSend));
}

QString UpdateAccountSql(const CAccountRecord& account)
{
    return QStringLiteral("update [user] set [password] = '%1',[usersmailname] = '%2',[messageinfo] = '%3',"
                          "[autosend] = %4 where [username] = '%5';")
        .arg(SqlText(account.password), SqlText(account.greetingAccount), SqlText(account.greeting),
             Flag(account.autoSend), SqlText(account.userName));
}

QString DeleteAccountSql(const QString& userName)
{
    return QStringLiteral("delete from [user] where [username] = '%1';").arg(SqlText(userName));
}

QString SaveAccountGreetingSql(const QString& userName, const QString& greeting, bool autoSend)
{
    return QStringLiteral("update [user] set [messageinfo] = '%1',[autosend] = %2 where [username] = '%3'")
        .arg(SqlText(greeting), Flag(autoSend), SqlText(userName));
}

bool InsertAccount(const CAccountRecord& account)
{
    return Execute(InsertAccountSql(account));
}

bool UpdateAccount(const CAccountRecord& account)
{
    return Update(UpdateAccountSql(account));
}

bool DeleteAccount(const QString& userName)
{
    return Execute(DeleteAccountSql(userName));
}

bool SaveAccountGreeting(const QString& userName, const QString& greeting, bool autoSend)
{
    return Update(SaveAccountGreetingSql(userName, greeting, autoSend));
}

bool ClearGreetingQueue()
{
    return Execute(QStringLiteral("delete from [AutoSend]"));
}
