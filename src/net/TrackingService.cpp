#include "net/TrackingService.h"

#include "net/HttpText.h"
#include "platform/Endpoints.h"
#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"

#include <QStringList>

namespace {

const QLatin1String kRecordEnd("|##|");
const QLatin1String kFieldEnd("#||#");

QString TrackingUrl(const QString& pathAndQuery)
{
    return Endpoints().trackingBase + pathAndQuery;
}

QStringList AccountNames()
{
    QStringList names;
    if (!g_pConnection)
        return names;
    CAdoRecordSet rs(g_pConnection);
    if (!rs.Open(QStringLiteral("select * from [user]")))
        return names;
    while (!rs.IsEOF()) {
        QString name;
        rs.GetCollect(UserColumn::kUserName, name);
        names << name;
        rs.MoveNext();
    }
    rs.Close();
    return names;
}

} // namespace

bool GetWebID(const QString& name, const QString& pwd, QString& webId)
{
    webId.clear();
    const QString url = TrackingUrl(QStringLiteral("/rivuzovara/GetWebID.asp?UserName=%1&UserPwd=%2")
                                        .arg(ToQueryValue(name), ToPlainQueryValue(pwd)));
    QString reply;
    if (!FetchText(url, reply))
        return false;
    const QLatin1String marker("+OK ");
    const qsizetype pos = reply.indexOf(marker);
    if (pos < 0)
        return false;
    webId = reply.mid(pos + marker.size());
    return true;
}

bool SaveImName(const QString& name, const QString& pwd, const QString& imName)
{
    const QString url = TrackingUrl(QStringLiteral("/rivuzovara/SaveImName.asp?UserName=%1&UserPwd=%2&UserImName=%3")
                                        .arg(ToQueryValue(name), ToPlainQueryValue(pwd), ToQueryValue(imName)));
    QString reply;
    return FetchText(url, reply) && reply.contains(QLatin1String("+OK"));
}

bool GetUserState(const QString& name, QString& reply)
{
    reply.clear();
    return FetchText(TrackingUrl(QStringLiteral("/rivuzovara/GetUserState.asp?UserName=%1").arg(ToQueryValue(name))),
                     reply);
}

QString FindFrozenAccounts()
{
    // The names are read first so no statement stays open across the requests.
    QString list;
    const QStringList names = AccountNames();
    for (const QString& name : names) {
        QString reply;
        if (GetUserState(name, reply) && reply.contains(QLatin1String("-ERR")))
            list += name + QLatin1Char(' ');
    }
    return list;
}

void CheckAccountStates()
{
    const QString list = FindFrozenAccounts();
    if (list.isEmpty())
        return;
    ShowMessageBox(
        QStringLiteral("您的账户 %1被冻结！\r\n系统将无法检测到 %1的访问客户！\r\n请联系供应商解决！").arg(list),
        AppTitle(), EMsgIcon::Exclamation);
}

void GetInfo(const QString& webId, QString& ip, QString& itemUrl, QString& third)
{
    QString reply;
    if (!FetchText(TrackingUrl(QStringLiteral("/rivuzovara/GetInfo.asp?userID=%1").arg(webId)), reply))
        return;
    ParseFeedReply(reply, ip, itemUrl, third);
}

void ParseFeedReply(const QString& reply, QString& ip, QString& itemUrl, QString& third)
{
    ip.clear();
    itemUrl.clear();
    third.clear();
    const qsizetype recordEnd = reply.indexOf(kRecordEnd);
    if (recordEnd < 0)
        return;
    const QString record = reply.left(recordEnd);
    // Each field needs its closing separator; a missing one leaves it (and the rest) empty.
    const qsizetype end1 = record.indexOf(kFieldEnd);
    if (end1 < 0)
        return;
    ip = record.left(end1);
    const qsizetype start2 = end1 + kFieldEnd.size();
    const qsizetype end2 = record.indexOf(kFieldEnd, start2);
    if (end2 < 0)
        return;
    itemUrl = record.mid(start2, end2 - start2);
    const qsizetype start3 = end2 + kFieldEnd.size();
    const qsizetype end3 = record.indexOf(kFieldEnd, start3);
    if (end3 < 0)
        return;
    third = record.mid(start3, end3 - start3);
}
