#pragma once
// Included by the road tests only. What they share: the shop, shopper and
// greeting of the road, a window manager, a tray host, the local service and
// hichat on the test's display, the real IP data, and a look into the store.

#include "accounts/Autorun.h"
#include "accounts/LiveSettings.h"
#include "accounts/ui/ConfigDlg.h"
#include "app/MainFrame.h"
#include "app/MirelHelperApp.h"
#include "app/MirelHelperView.h"
#include "controls/ui/SortListCtrl.h"
#include "greet/ImClient.h"
#include "iploc/IpdbReader.h"
#include "monitor/MonitorClientThread.h"
#include "monitor/ui/Explorer_showuserinfo.h"
#include "monitor/ui/UserListDlg.h"
#include "notify/OwnerNotifier.h"
#include "platform/DataDirectory.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "support/FileOpenWatch.h"
#include "support/Hichat.h"
#include "support/LocalService.h"
#include "support/StoreTestSupport.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QImage>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <mutex>

#include <ostream>

#include <sys/stat.h>

#include <gtest/gtest.h>

// Last: it brings in Xlib, whose macros would clash with Qt's headers.
#include "road_support.h"

// Failure messages show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline const QString kAccount = QStringLiteral("road_shop");
inline const QString kPassword = QStringLiteral("road-pw");
inline const QString kImName = QStringLiteral("road_im");
inline const QString kVisitor = QStringLiteral("买家张三");
inline const QString kVisitorImId = QStringLiteral("7a3f09");
// A mobile shopper over IPv6 (China Telecom, Sichuan).
inline const QString kShopperIp = QStringLiteral("240e:3b7:3272:d8d0::1");
inline const QString kShopperRegion = QStringLiteral("四川 中国电信");
inline const QString kItemTitle = QStringLiteral("首页-手工陶瓷茶杯套装 - Lumo网");
// What the alert shows of that title.
inline const QString kItemTitleShown = QStringLiteral("手工陶瓷茶杯套装");
inline const QString kGreeting = QStringLiteral("您好 [username]，欢迎光临本店！[randomcode]");

// Sees every status text and alert on its way to the main window.
class CRoadObserver : public IOwnerNotifier
{
public:
    void Install()
    {
        m_next = OwnerNotifier();
        SetOwnerNotifier(this);
    }
    void ShowStatusMessage(const QString& text) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_statuses.append(text);
        }
        if (m_next)
            m_next->ShowStatusMessage(text);
    }
    void AlertOwner(const QString& text) override { AlertOwnerAbout(text, QString(), QString()); }
    void AlertOwnerAbout(const QString& text, const QString& shop, const QString& visitor) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_alerts.append(text);
        }
        if (m_next)
            m_next->AlertOwnerAbout(text, shop, visitor);
    }
    QStringList Alerts() const
    {
        std::lock_guard lock(m_mutex);
        return m_alerts;
    }
    QStringList Statuses() const
    {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }

private:
    IOwnerNotifier* m_next = nullptr;
    mutable std::mutex m_mutex;
    QStringList m_alerts;
    QStringList m_statuses;
};

// The texts of the balloons on the screen (Qt draws its own next to the tray icon).
inline QStringList BalloonTexts()
{
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QBalloonTip") && widget->isVisible()) {
            for (const QLabel* label : widget->findChildren<QLabel*>())
                texts.append(label->text());
        }
    }
    return texts;
}

// Qt's own balloon by the tray icon, when one is up.
inline QWidget* VisibleBalloon()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QBalloonTip") && widget->isVisible())
            return widget;
    }
    return nullptr;
}

inline bool HasShownMessage(const CMessageRecorder& boxes, const QString& text)
{
    for (const CShownMessage& shown : boxes.Shown()) {
        if (shown.text == text)
            return true;
    }
    return false;
}

inline QString Dump(const QStringList& texts)
{
    return texts.join(QStringLiteral(" | "));
}

class RoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs on an X display (ctest uses xvfb-run)";
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_windowManager.Start()) << "matchbox-window-manager";
        ASSERT_TRUE(m_trayHost.Start()) << "trayer did not take the notification area";
        ASSERT_TRUE(m_service.Start()) << qPrintable(m_service.Error());
        ASSERT_TRUE(m_hichat.Register()) << qPrintable(m_hichat.Error());
        ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
        ASSERT_TRUE(m_reader.Open(QStringLiteral(MIREL_IPDB_FILE))) << "scripts/bootstrap fetches it";
        WriteSettingsFile();
    }

    void TearDown() override
    {
        m_hichat.Stop();
        m_service.Stop();
        m_trayHost.Stop();
        m_windowManager.Stop();
    }

    // mirelhelper.ini pointing at this test's service; the alert sound goes nowhere.
    void WriteSettingsFile()
    {
        const CEndpoints e = m_service.MakeEndpoints();
        QFile ini(m_home.filePath(QStringLiteral("mirelhelper.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Text));
        ini.write(QStringLiteral("[endpoints]\ntracking_base=%1\nim_profile_base=%2\nim_portrait_base=%3\n"
                                 "im_presence_base=%4\nim_message_page=%5\nim_image_base=%6\nmaker_site=%7\n"
                                 "[sound]\ndevice=null\n")
                      .arg(e.trackingBase, e.imProfileBase, e.imPortraitBase, e.imPresenceBase, e.imMessagePage,
                           e.imImageBase, e.makerSite)
                      .toUtf8());
    }

    QString DatabasePath() const { return m_home.filePath(QStringLiteral("Info.mdb")); }
    QString ItemUrl() const { return m_service.ImBase() + QStringLiteral("/item/7"); }

    // A shopper opens the item page, whose tracking snippet asks shop.asp for
    // its image; then the shopper shows up on the shop's IM profile page.
    // (In this order a poll in between never pairs the name with an older page view.)
    void ShopperVisits(const QString& webId, const QString& visitor, const QString& imId)
    {
        ASSERT_EQ(m_service.GetTracking(QStringLiteral("/rivuzovara/shop.asp?id=%1&ip=%2&url=%3")
                                            .arg(QueryValue(webId), QueryValue(kShopperIp), QueryValue(ItemUrl()))),
                  200);
        ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/visit?imname=%1&name=%2&imid=%3")
                                      .arg(QueryValue(kImName), QueryValue(visitor), QueryValue(imId))),
                  200);
    }

    QList<QStringList> VisitsOf(const QString& visitor) const
    {
        return road::QueryFile(DatabasePath(),
                               QStringLiteral("select [guestname],[ip],[shopname],[lasttime],[count],[city],[shopurl],"
                                              "[imuid] from [client] where [guestname] = '%1'")
                                   .arg(visitor));
    }

    QTemporaryDir m_home;
    CWindowManager m_windowManager;
    road::CTrayHost m_trayHost;
    CLocalService m_service;
    CHichatSession m_hichat;
    CIpdbReader m_reader;
};

// Where the windows of a process are, for failure messages.
inline QString WindowsOf(qint64 pid)
{
    QStringList windows;
    for (const road::CXWindowInfo& w : road::WindowsOfProcess(pid)) {
        windows.append(QStringLiteral("%1x%2+%3+%4 %5")
                           .arg(w.rect.width())
                           .arg(w.rect.height())
                           .arg(w.rect.x())
                           .arg(w.rect.y())
                           .arg(w.type));
    }
    return windows.join(QStringLiteral(", "));
}
