#include "monitor/RefreshShop.h"

#include "accounts/AdvancedSettings.h"
#include "accounts/LiveSettings.h"
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
#include "store/Variant.h"
#include "tables/GreetingQueue.h"
#include "tables/VisitTable.h"

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

namespace {

// What one poll learnt of its visitors, for the announcement.
struct CPollOutcome
{
    QStringList newNames; // newest first
    QString budgetNotice;
    // The feed's visitor was not recorded by this poll: no anonymous guest either.
    bool feedVisitLost = false;
};

// Step 1 of every poll: its status text; the settings it decides by, one copy for the
// whole poll, so a change in the dialog never splits a poll's decisions.
CAdvancedSettings BeginPoll(const QString& account)
{
    ShowStatusMessage(QStringLiteral("正在刷新[%1]的店铺......").arg(account));
    const CAdvancedSettings advanced = CurrentAdvancedSettings();
    const QString quietSummary = AlertPolicy().TakeQuietSummary(advanced, Clock().NowMs());
    if (!quietSummary.isEmpty())
        AlertOwner(quietSummary);
    return advanced;
}

bool UsableFeed(const CNewVisit& feed)
{
    return feed.ip.size() > kUsableIpChars && feed.itemUrl.size() > kUsableItemUrlChars;
}

} // namespace

CNewVisit ReadFeed(const QString& account, const QString& feedIp, const QString& feedItemUrl)
{
    CNewVisit feed{QString(), feedIp, account, QString(), kUnknownRegion, feedItemUrl};
    if (UsableFeed(feed))
        feed.region = LookupRegion(feed.ip);
    if (feed.ip.size() < 4)
        feed.ip = kNoIp;
    if (feed.itemUrl.size() < kUsableItemUrlChars)
        feed.itemUrl = kUnknownLink;
    feed.time = PollTime();
    return feed;
}

namespace {

// Record new, policy, enqueue: each listed visitor not yet recorded for the shop,
// last to first; only the first entry of the page belongs to the feed's page view.
CPollOutcome RecordNewVisitors(const CAdvancedSettings& advanced, const CNewVisit& feed, const QString& greeting,
                               bool autoGreet, const QStringList& names, const QStringList& imIds)
{
    CPollOutcome outcome;
    for (qsizetype i = names.size() - 1; i >= 0; --i) {
        const std::optional<bool> recorded = CVisitTable::IsRecorded(names[i], feed.shop);
        if (!recorded || *recorded)
            continue;
        const bool tiedToFeed = i == 0;
        const CVisitRow visit{.guestName = names[i],
                              .ip = tiedToFeed ? feed.ip : kOtherEntryIp,
                              .shopName = feed.shop,
                              .lastTime = feed.time,
                              .count = QStringLiteral("1"),
                              .city = tiedToFeed ? feed.region : kUnknownRegion,
                              .shopUrl = tiedToFeed ? feed.itemUrl : kUnknownLink,
                              .imUid = imIds[i]};
        // Judged before the visit is written, so the visit and its queued greeting go in
        // together (both or neither). Read now, not at the start of the poll: the greeting
        // thread may have stopped meanwhile.
        EGreetVerdict verdict = EGreetVerdict::Unknown;
        if (autoGreet && CGreetingQueue::TakesGreetings(LiveSettings().greetingRunning.load() != 0))
            verdict = GreetingPolicy().Judge(advanced, Clock().NowMs(), feed.shop, names[i]);
        const CQueuedGreeting queued{-1, names[i], feed.shop, greeting};
        // A visit not recorded is not announced or greeted: it stays new, and the next
        // poll records it (a store locked by another program, a full disk, a queue insert
        // that failed and took the visit with it). On the team store another machine may
        // have recorded it a moment ago (0): that machine queues the greeting, and every
        // machine alerts through the store's notice (the feed's page view included: it is
        // no anonymous guest either).
        const int written = CVisitTable::RecordNew(visit, verdict == EGreetVerdict::Queue ? &queued : nullptr);
        if (written <= 0) {
            if (written < 0)
                qCWarning(LogMonitor) << "visit not recorded; the next poll tries again";
            if (tiedToFeed)
                outcome.feedVisitLost = true;
            continue;
        }
        if (verdict == EGreetVerdict::OverBudget && outcome.budgetNotice.isEmpty())
            outcome.budgetNotice = GreetingPolicy().TakeBudgetNotice(advanced, Clock().NowMs(), feed.shop);
        outcome.newNames.prepend(names[i]);
    }
    return outcome;
}

// Each view of an anonymous guest alerts once per address; with the burst rule a poll's
// many guests are one balloon.
void AlertGuests(const CAdvancedSettings& advanced, const QList<CNewVisit>& views)
{
    QList<CNewVisit> guests;
    for (const CNewVisit& view : views) {
        // A hit refreshes the address's time, so a visitor who keeps coming back stays quiet.
        if (!UsableFeed(view) || theSessionMan.Lookup(view.ip))
            continue;
        theSessionMan.Add(view.ip, QString());
        // Quiet hours count the guest once, as the alert would have.
        if (AlertPolicy().AllowGuestAlert(advanced, Clock().NowMs()))
            guests.append(view);
    }
    if (advanced.bursts && guests.size() >= CAlertPolicy::kBurstThreshold) {
        QStringList shown;
        for (const CNewVisit& guest : guests.mid(0, CAlertPolicy::kBurstNamesShown))
            shown.append(guest.ip);
        AlertOwner(QStringLiteral("%1位游客访问[%2]的网店\r\nIP:%3等")
                       .arg(QString::number(guests.size()), guests.first().shop, shown.join(QStringLiteral("、"))));
        return;
    }
    for (const CNewVisit& guest : guests) {
        const QString title = LookupItemTitle(guest.itemUrl);
        AlertOwner(QStringLiteral("有游客访问[%1]的网店!\r\nIP:%2\r\n来自:%3\r\n查看了您的:%4")
                       .arg(guest.shop, guest.ip, guest.region, title));
    }
}

// Announce: the new visitors, or the anonymous guests of the views (the feed's is the last).
void AnnouncePoll(const CAdvancedSettings& advanced, const QList<CNewVisit>& views, const QStringList& names,
                  const CPollOutcome& outcome)
{
    CNewVisit feed = views.back();
    if (!outcome.newNames.isEmpty()) {
        // The alert names the feed's visitor, who is announced when recorded.
        feed.name = names[0];
        AnnounceNewVisitors(advanced, feed, outcome.newNames, !outcome.feedVisitLost);
        if (IVisitorListBridge* bridge = VisitorListBridge())
            bridge->RequestRefill();
        // After the poll's own text, so it stays up until the next poll.
        if (!outcome.budgetNotice.isEmpty())
            ShowStatusMessage(outcome.budgetNotice);
        return;
    }

    // The page view belongs to a visitor the next poll (or another machine) records; it is no anonymous guest.
    if (outcome.feedVisitLost)
        return;
    if (LiveSettings().guesttip.load() != 0)
        AlertGuests(advanced, views);
    ShowStatusMessage(QStringLiteral("%1 [%2]的网店无新登陆客户!").arg(feed.time, feed.shop));
}

// Everything of a poll after the feed's request; the last view is the feed's.
void PollWithViews(const CAdvancedSettings& advanced, const QString& account, const QString& imName,
                   const QString& greeting, bool autoGreet, const QList<CFeedView>& given)
{
    QList<CNewVisit> views;
    for (const CFeedView& view : given)
        views.append(ReadFeed(account, view.ip, view.itemUrl));
    const CNewVisit& feed = views.back();
    QStringList names;
    QStringList imIds;
    FetchProfileVisitors(imName, names, imIds);
    if (names.isEmpty())
        return;
    const CPollOutcome outcome = RecordNewVisitors(advanced, feed, greeting, autoGreet, names, imIds);
    AnnouncePoll(advanced, views, names, outcome);
}

} // namespace

void RefreshShop(const QString& webId, const QString& account, const QString& imName, const QString& greeting,
                 bool autoGreet)
{
    const CAdvancedSettings advanced = BeginPoll(account);
    QString ip;
    QString itemUrl;
    QString third;
    GetInfo(webId, ip, itemUrl, third);
    PollWithViews(advanced, account, imName, greeting, autoGreet, {CFeedView{ip, itemUrl}});
}

void RefreshShopWithFeed(const QString& account, const QString& imName, const QString& greeting, bool autoGreet,
                         const QString& ip, const QString& itemUrl)
{
    PollWithViews(BeginPoll(account), account, imName, greeting, autoGreet, {CFeedView{ip, itemUrl}});
}

void RefreshShopWithViews(const QString& account, const QString& imName, const QString& greeting, bool autoGreet,
                          const QList<CFeedView>& views)
{
    if (!views.isEmpty())
        PollWithViews(BeginPoll(account), account, imName, greeting, autoGreet, views);
}
