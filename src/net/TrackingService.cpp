#include "net/TrackingService.h"

#include "net/HttpText.h"
#include "platform/Endpoints.h"

namespace {

const QLatin1String kRecordEnd("|##|");
const QLatin1String kFieldEnd("#||#");

QString TrackingUrl(const QString& pathAndQuery)
{
    return Endpoints().trackingBase + pathAndQuery;
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
