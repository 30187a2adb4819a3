#include "monitor/RefreshShop.h"

#include "accounts/AdvancedSettings.h"
#include "accounts/LiveSettings.h"
#include "accounts/TeamSettings.h"
#include "greet/GreetingPolicy.h"
#include "iploc/IpLocator.h"
#include "monitor/AlertPolicy.h"
#include "monitor/ItemTitle.h"
#include "monitor/SessionMan.h"
#include "monitor/VisitorListBridge.h"
#include "net/HttpText.h"
#include "net/TrackingService.h"
#include "net/UrlEncode.h"
#include "notify/OwnerNotifier.h"
#include "platform/AbortScope.h"
#include "platform/Clock.h"
#include "platform/Endpoints.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Variant.h"

const QString kProfileEntryMarker = QStringLiteral("<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/");

namespace {

constexpr qsizetype kMaxNameChars = 50;
constexpr qsizetype kMaxImIdChars = 99;
// How many markers pass between two looks at the stop flag.
constexpr qsizetype kAbortCheckMarkers = 1024;
// Below these lengths the feed gave no usable address.
constexpr qsizetype kUsableIpChars = 5;
constexpr qsizetype kUsableItemUrlChars = 20;

const QString kUnknownRegion = QStringLiteral("未知区域");
const QString kUnknownLink = QStringLiteral("未知链接");
const QString kNoIp = QStringLiteral("0,0,0,0");
const QString kOtherEntryIp = QStringLiteral("0.0.0.0");
// What the IP reader answers for an address it does not know.
const QString kRegionNotFound = QStringLiteral("没有查到相关信息");

QString PollTime()
{
    return StoreTimeText(Clock().NowMs());
}

QString LookupRegion(const QString& ip)
{
    IVisitorListBridge* bridge = VisitorListBridge();
    CIpLocator* reader = bridge ? bridge->IpLocator() : nullptr;
    return reader ? reader->Lookup(ip) : kRegionNotFound;
}

} // namespace

void ParseProfileVisitors(const QString& page, const QString& portraitPrefix, QStringList& names, QStringList& ids)
{
    // Every search stays inside one entry (up to the next marker), so each
    // character of the page is looked at a bounded number of times.
    const QStringView text(page);
    qsizetype marker = text.indexOf(kProfileEntryMarker);
    qsizetype markersSeen = 0;
    qsizetype taken = 0;
    while (marker >= 0 && taken < kMaxProfileEntries) {
        if (++markersSeen % kAbortCheckMarkers == 0 && AbortRequested())
            break;
        const qsizetype nameStart = marker + kProfileEntryMarker.size();
        const qsizetype quote = text.indexOf(QLatin1Char('"'), nameStart);
        if (quote < 0)
            break;
        const qsizetype next = text.indexOf(kProfileEntryMarker, quote);
        const QStringView entry = text.sliced(quote, (next < 0 ? text.size() : next) - quote);

        QString name;
        if (quote - nameStart <= kMaxNameChars)
            name = CURLEncode::Decode(page.mid(nameStart, quote - nameStart));

        QString imId;
        const qsizetype prefix = portraitPrefix.isEmpty() ? -1 : entry.indexOf(portraitPrefix);
        if (prefix >= 0) {
            const qsizetype idStart = prefix + portraitPrefix.size();
            // An ID of 100 characters or more is no ID: look no further for its end.
            const QStringView rest = entry.sliced(idStart).left(kMaxImIdChars + 1);
            const qsizetype dot = rest.indexOf(QLatin1Char('.'));
            if (dot >= 0)
                imId = CURLEncode::Decode(rest.left(dot).toString());
        }

        if (!name.isEmpty() && !imId.isEmpty()) {
            names.append(name);
            ids.append(imId);
            ++taken;
        }
        marker = next;
    }
}

void FetchProfileVisitors(const QString& imName, QStringList& names, QStringList& imIds)
{
    names.clear();
    imIds.clear();
    const CEndpoints& endpoints = Endpoints();
    QString page;
    if (!FetchText(endpoints.imProfileBase + QLatin1Char('/') + ToQueryValue(imName), page))
        return;
    ParseProfileVisitors(page, endpoints.imPortraitBase + QStringLiteral("/sys/portraitn/item/"), names, imIds);
}

void AnnounceNewVisitors(const CAdvancedSettings& advanced, const CNewVisit& first, const QStringList& names,
                         bool describe)
{
    QString ordinary;
    if (LiveSettings().clienttip.load() != 0 && describe) {
        const QString title = LookupItemTitle(first.itemUrl);
        ordinary = QStringLiteral("新客户[%1]\r\nIP:%2\r\n来自:%3\r\n访问[%4]的网店\r\n商品:%5")
                       .arg(first.name, first.ip, first.region, first.shop, title);
    }
    for (const COwnerAlert& alert :
         AlertPolicy().ForNewVisitors(advanced, Clock().NowMs(), first.shop, names, first.name, ordinary))
        AlertOwnerAbout(alert.text, alert.shop, alert.visitor);
    ShowStatusMessage(QStringLiteral("顾客[%1]在 %2 访问了[%3]的网店!").arg(first.name, first.time, first.shop));
}

void RefreshShop(const QString& webId, const QString& account, const QString& imName, const QString& greeting,
                 bool autoGreet)
{
    ShowStatusMessage(QStringLiteral("正在刷新[%1]的店铺......").arg(account));
    // One copy for the whole poll, so a change in the dialog never splits a poll's decisions.
    const CAdvancedSettings advanced = CurrentAdvancedSettings();
    const QString quietSummary = AlertPolicy().TakeQuietSummary(advanced, Clock().NowMs());
    if (!quietSummary.isEmpty())
        AlertOwner(quietSummary);

    QStringList names;
    QStringList imIds;
    QString ip;
    QString itemUrl;
    QString third;
    QString region = kUnknownRegion;

    GetInfo(webId, ip, itemUrl, third);
    if (ip.size() > kUsableIpChars && itemUrl.size() > kUsableItemUrlChars)
        region = LookupRegion(ip);
    if (ip.size() < 4)
        ip = kNoIp;
    if (itemUrl.size() < kUsableItemUrlChars)
        itemUrl = kUnknownLink;

    const QString pollTime = PollTime();
    FetchProfileVisitors(imName, names, imIds);
    if (names.isEmpty())
        return;

    const QString sqlAccount = SqlText(account);
    const bool team = OnTeamStore();
    bool foundNew = false;
    QStringList newNames;
    QString budgetNotice;
    bool feedVisitLost = false;
    // Last to first; only the first entry of the page belongs to the feed's page view.
    for (qsizetype i = names.size() - 1; i >= 0; --i) {
        const QString sqlName = SqlText(names[i]);
        CAdoRecordSet recordSet;
        if (!recordSet.Open(QStringLiteral("select * from [client] where [guestname] = '%1'and [shopname] = '%2'")
                                .arg(sqlName, sqlAccount)))
            continue;
        if (recordSet.IsEOF()) {
            const bool tiedToFeed = i == 0;
            const QString insert =
                QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] "
                               ", [shopurl] , [imuid]) values ('%1','%2','%3','%4',%5,'%6','%7','%8')")
                    .arg(sqlName, SqlText(tiedToFeed ? ip : kOtherEntryIp), sqlAccount, SqlText(pollTime),
                         QStringLiteral("1"), SqlText(tiedToFeed ? region : kUnknownRegion),
                         SqlText(tiedToFeed ? itemUrl : kUnknownLink), SqlText(imIds[i]));
            // Judged before the visit is written, so the visit and its queued greeting go in
            // together (both or neither). Read now, not at the start of the poll: the greeting
            // thread may have stopped meanwhile. On the team store the greeting goes out from
            // whichever machine greets for the shop.
            EGreetVerdict verdict = EGreetVerdict::Unknown;
            if (autoGreet && (team || LiveSettings().greetingRunning.load() != 0) && g_pConnection)
                verdict = GreetingPolicy().Judge(advanced, Clock().NowMs(), account, names[i]);
            // On the team store the server stamps the queue time: the 30-minute rule reads one clock.
            const QString queue = verdict != EGreetVerdict::Queue
                                      ? QString()
                                      : QStringLiteral("insert into [AutoSend] ([ClientName] , [UserName] , "
                                                       "[Message]) values ('%1' , '%2' , '%3')")
                                            .arg(sqlName, sqlAccount, SqlText(greeting));
            // A visit not recorded is not announced or greeted: it stays new, and the
            // next poll records it (a store locked by another program, a full disk, a
            // queue insert that failed and took the visit with it).
            QList<int> changes;
            const bool written =
                g_pConnection &&
                g_pConnection->ExecuteChain(
                    insert, [&](int done, int changed) { return done == 1 && changed == 1 ? queue : QString(); },
                    &changes);
            const int recorded = written ? changes.value(0, -1) : -1;
            if (recorded < 0) {
                qCWarning(LogMonitor) << "visit not recorded; the next poll tries again";
                if (tiedToFeed)
                    feedVisitLost = true;
                continue;
            }
            // On the team store another machine recorded it a moment ago: that machine
            // queues the greeting, and every machine alerts through the store's notice
            // (the feed's page view included: it is no anonymous guest either).
            if (recorded == 0) {
                if (tiedToFeed)
                    feedVisitLost = true;
                continue;
            }
            if (verdict == EGreetVerdict::OverBudget && budgetNotice.isEmpty())
                budgetNotice = GreetingPolicy().TakeBudgetNotice(advanced, Clock().NowMs(), account);
            foundNew = true;
            newNames.prepend(names[i]);
        }
        recordSet.Close();
    }

    if (foundNew) {
        // The alert names the feed's visitor, who is announced when recorded.
        AnnounceNewVisitors(advanced, CNewVisit{names[0], ip, account, pollTime, region, itemUrl}, newNames,
                            !feedVisitLost);
        if (IVisitorListBridge* bridge = VisitorListBridge())
            bridge->RequestRefill();
        // After the poll's own text, so it stays up until the next poll.
        if (!budgetNotice.isEmpty())
            ShowStatusMessage(budgetNotice);
        return;
    }

    // The page view belongs to a visitor the next poll (or another machine) records; it is no anonymous guest.
    if (feedVisitLost)
        return;
    if (ip.size() > kUsableIpChars && itemUrl.size() > kUsableItemUrlChars && LiveSettings().guesttip.load() != 0) {
        // A hit refreshes the address's time, so a visitor who keeps coming back stays quiet.
        if (!theSessionMan.Lookup(ip)) {
            theSessionMan.Add(ip, QString());
            // Quiet hours count the guest once, as the alert would have.
            if (AlertPolicy().AllowGuestAlert(advanced, Clock().NowMs())) {
                const QString title = LookupItemTitle(itemUrl);
                AlertOwner(QStringLiteral("有游客访问[%1]的网店!\r\nIP:%2\r\n来自:%3\r\n查看了您的:%4")
                               .arg(account, ip, region, title));
            }
        }
    }
    ShowStatusMessage(QStringLiteral("%1 [%2]的网店无新登陆客户!").arg(pollTime, account));
}
