#include "tables/AccountTable.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"

#include <limits>

namespace {

// One pass of arg() over all values, so a value holding "%1" is never taken for a place-holder.
QString Flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// The row under the record set; false when one of its columns cannot be read.
bool ReadRow(CAdoRecordSet& rs, CAccount& account)
{
    if (!rs.GetCollect(UserColumn::kUserName, account.userName) ||
        !rs.GetCollect(UserColumn::kUserSmallName, account.greetingAccount) ||
        !rs.GetCollect(UserColumn::kPassword, account.password) || !rs.GetCollect(UserColumn::kWebId, account.webId) ||
        !rs.GetCollect(UserColumn::kMessageInfo, account.greeting))
        return false;
    int autoSend = 0;
    // On when nonzero, whatever type the store gives the column.
    if (!rs.GetCollectInt(UserColumn::kAutoSend, autoSend))
        return false;
    account.autoSend = autoSend != 0;
    return true;
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

CAdoConnection* CAccountTable::Connection() const
{
    return m_connection ? m_connection : g_pConnection;
}

QList<CAccount> CAccountTable::ReadAll() const
{
    QList<CAccount> accounts;
    CAdoConnection* connection = Connection();
    if (!connection)
        return accounts;
    CAdoRecordSet rs(connection);
    if (!rs.Open(QStringLiteral("select * from [user] order by [id]"))) {
        qCWarning(LogStore) << "the accounts could not be read";
        return accounts;
    }
    for (; !rs.IsEOF(); rs.MoveNext()) {
        CAccount account;
        if (ReadRow(rs, account))
            accounts.append(account);
        else
            qCWarning(LogStore) << "an account row could not be read; left out";
    }
    return accounts;
}

void CAccountTable::RefreshPollList(QList<CAccount>& accounts) const
{
    CAdoConnection* connection = Connection();
    if (accounts.isEmpty() && connection && connection->IsTeamStore())
        accounts = ReadAll();
}

EAccountLookup CAccountTable::Find(const QString& userName, CAccount* account) const
{
    CAdoConnection* connection = Connection();
    if (!connection)
        return EAccountLookup::Unreadable;
    CAdoRecordSet rs(connection);
    if (!rs.Open(QStringLiteral("select * from [user] where [username] = '%1'").arg(SqlText(userName)))) {
        qCWarning(LogStore) << "an account could not be looked up";
        return EAccountLookup::Unreadable;
    }
    if (rs.IsEOF())
        return EAccountLookup::Missing;
    if (account)
        ReadRow(rs, *account);
    return EAccountLookup::Exists;
}

QString CAccountTable::InsertSql(const CAccount& account)
{
    return QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend]) "
                          "values ('%1','%2','%3','%4','%5',%6)")
        .arg(SqlText(account.userName), SqlText(account.greetingAccount), SqlText(account.password),
             SqlText(account.webId), SqlText(account.greeting), Flag(account.autoSend));
}

QString CAccountTable::UpdateSql(const CAccount& account)
{
    return QStringLiteral("update [user] set [password] = '%1',[usersmailname] = '%2',[messageinfo] = '%3',"
                          "[autosend] = %4 where [username] = '%5';")
        .arg(SqlText(account.password), SqlText(account.greetingAccount), SqlText(account.greeting),
             Flag(account.autoSend), SqlText(account.userName));
}

QString CAccountTable::DeleteSql(const QString& userName)
{
    return QStringLiteral("delete from [user] where [username] = '%1';").arg(SqlText(userName));
}

QString CAccountTable::SaveGreetingSql(const QString& userName, const QString& greeting, bool autoSend)
{
    return QStringLiteral("update [user] set [messageinfo] = '%1',[autosend] = %2 where [username] = '%3'")
        .arg(SqlText(greeting), Flag(autoSend), SqlText(userName));
}

bool CAccountTable::Insert(const CAccount& account) const
{
    CAdoConnection* connection = Connection();
    return connection && connection->Execute(InsertSql(account));
}

// An update that changed no row did not happen.
bool CAccountTable::Update(const CAccount& account) const
{
    CAdoConnection* connection = Connection();
    return connection && connection->ExecuteChanges(UpdateSql(account)) > 0;
}

bool CAccountTable::Delete(const QString& userName) const
{
    CAdoConnection* connection = Connection();
    return connection && connection->Execute(DeleteSql(userName));
}

bool CAccountTable::SaveGreeting(const QString& userName, const QString& greeting, bool autoSend) const
{
    CAdoConnection* connection = Connection();
    return connection && connection->ExecuteChanges(SaveGreetingSql(userName, greeting, autoSend)) > 0;
}
