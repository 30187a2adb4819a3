// From a shopper's page view at the tracking service to the program's alert
// call, with the wake-up: rivuzovara-local on loopback, a real Info.mdb, the
// real IP data and the monitoring thread as the program runs it, at a polling
// interval of 1000 s, so only the wake-up can be this quick. Prints median and
// worst for 20 views from distinct addresses on 1 and on 50 accounts, then
// 200 views within one second on one account: the [pageview] rows kept and
// the alerts raised (with and without the burst rule). Not a Google Benchmark
// program: one run, figures on stdout.
#include "accounts/AdvancedSettings.h"
#include "accounts/LiveSettings.h"
#include "iploc/IpLocator.h"
#include "monitor/MonitorClientThread.h"
#include "monitor/RefreshShop.h"
#include "monitor/SessionMan.h"
#include "monitor/ViewHearing.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct CWorld
{
    CLocalService service;
    QTemporaryDir dir;
    CIpLocator reader{QStringLiteral(MIREL_IPDB_FILE), QStringLiteral(MIREL_QQWRY_FILE)};
    std::unique_ptr<CRecordingNotifier> notifier;
    std::unique_ptr<CRecordingBridge> bridge;
    std::unique_ptr<CMonitorClientThread> monitor;
    QStringList webIds;
    QString itemUrl;

    ~CWorld()
    {
        if (monitor) {
            monitor->m_stop = 1;
            monitor->wait();
        }
        CloseStore();
    }

    // accounts shops, each with one known visitor on its profile page, monitored at 1000 s.
    bool Build(int accounts, bool bursts)
    {
        if (!service.Start() || !dir.isValid() || !OpenStore(dir.path()) || !reader.IsOpen()) {
            std::fprintf(stderr, "no service, store or IP data: %s\n", qPrintable(service.Error()));
            return false;
        }
        service.ApplyEndpoints();
        notifier = std::make_unique<CRecordingNotifier>();
        bridge = std::make_unique<CRecordingBridge>(&reader);
        itemUrl = service.ImBase() + QStringLiteral("/item/1");
        SetItemTitle(service, 1, QStringLiteral("首页-纯棉T恤 - Lumo网"));
        for (int i = 0; i < accounts; ++i) {
            const QString shop = QStringLiteral("shop%1").arg(i);
            const QString webId = service.RegisterAccount(shop, QStringLiteral("pw"));
            if (webId.isEmpty() || !AddImVisitor(service, QStringLiteral("im%1").arg(i),
                                                 QStringLiteral("老客%1").arg(i), QStringLiteral("id%1").arg(i)))
                return false;
            g_pConnection->Execute(
                QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],"
                               "[autosend]) values ('%1','im%2','pw','%3','hi',0)")
                    .arg(shop)
                    .arg(i)
                    .arg(webId));
            // The listed visitor is known before the clock starts: views come from guests.
            RefreshShop(webId, shop, QStringLiteral("im%1").arg(i), QStringLiteral("hi"), false);
            webIds << webId;
        }
        CAdvancedSettings advanced = CurrentAdvancedSettings();
        advanced.bursts = bursts;
        PublishAdvancedSettings(advanced);
        LiveSettings().reflashtime = 1000;
        LiveSettings().guesttip = 1;
        LiveSettings().clienttip = 1;
        notifier->Clear();
        monitor = std::make_unique<CMonitorClientThread>();
        monitor->start();
        if (!WaitUntil([] { return HearingInRealTime(); }, 60000)) {
            std::fprintf(stderr, "the wake-up did not start\n");
            return false;
        }
        return true;
    }

    // When the first alert naming ip came, -1 when none within 10 s.
    qint64 AlertAt(const QString& ip)
    {
        qint64 at = -1;
        WaitUntil(
            [&] {
                for (const CRecordedText& alert : notifier->Alerts()) {
                    if (alert.text.contains(QStringLiteral("IP:") + ip + QStringLiteral("\r\n")))
                        at = alert.atMs;
                }
                return at >= 0;
            },
            10000, 1);
        return at;
    }
};

void Latency(int accounts)
{
    CWorld world;
    if (!world.Build(accounts, false))
        return;
    std::vector<qint64> ms;
    for (int view = 0; view < 20; ++view) {
        const QString ip = QStringLiteral("61.135.%1.%2").arg(accounts).arg(10 + view);
        const qint64 sent = QDateTime::currentMSecsSinceEpoch();
        world.service.RecordPageView(world.webIds[view % accounts], ip, world.itemUrl);
        const qint64 alerted = world.AlertAt(ip);
        if (alerted < 0) {
            std::printf("  view %d: no alert within 10 s\n", view);
            continue;
        }
        ms.push_back(alerted - sent);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return;
    std::printf("%2d accounts, 20 views: alert after median %lld ms, worst %lld ms (%zu of 20 alerted)\n", accounts,
                static_cast<long long>(ms[ms.size() / 2]), static_cast<long long>(ms.back()), ms.size());
}

void Burst(bool bursts)
{
    CWorld world;
    if (!world.Build(1, bursts))
        return;
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    for (int view = 0; view < 200; ++view)
        world.service.RecordPageView(
            world.webIds[0], QStringLiteral("61.%1.%2.%3").arg(bursts ? 137 : 136).arg(view / 100).arg(view % 100 + 1),
            world.itemUrl);
    const qint64 sent = QDateTime::currentMSecsSinceEpoch() - start;
    const QString count =
        QStringLiteral("select count(*), count(distinct [seq]) from [pageview] where [shopname] = 'shop0'");
    const auto counts = [&] {
        const std::vector<QStringList> rows = ReadRows(count);
        return rows.empty() ? QStringList() : rows.front();
    };
    WaitUntil([&] { return counts().value(0).toInt() >= 200; }, 30000);
    // The alerts of the last poll come a moment after its views are kept.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const QStringList rows = counts();
    const std::vector<CRecordedText> alerts = world.notifier->Alerts();
    const qint64 last = alerts.empty() ? 0 : alerts.back().atMs - start;
    std::printf("200 views in %lld ms on one account, burst rule %s: %s [pageview] rows (%s distinct seq), "
                "%zu alerts, the last %lld ms after the first view\n",
                static_cast<long long>(sent), bursts ? "on" : "off", qPrintable(rows.value(0)),
                qPrintable(rows.value(1)), alerts.size(), static_cast<long long>(last));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Latency(1);
    Latency(50);
    Burst(false);
    Burst(true);
    return 0;
}
