#pragma once
// Included by the visitor list tests only. What they share: a real Info.mdb
// in a temporary folder, the real IP data file in the data directory, every
// message box recorded, every program start recorded instead of made, and
// the page under test.
#include "controls/ui/SortListCtrl.h"
#include "monitor/ui/UserListDlg.h"
#include "platform/DataDirectory.h"
#include "platform/Launcher.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"
#include "support/StoreTestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

// Readable failures for texts.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

struct CUserListVisit
{
    QString guest;
    QString shop = QStringLiteral("shop-a");
    QDateTime time;
    QString imId;
    QString url = QStringLiteral("未知链接");
    QString ip = QStringLiteral("0.0.0.0");
    QString city = QStringLiteral("未知区域");
};

class CUserListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        SetDataDirectory(m_dir.path());
        // The page opens the data directory's copy of the IP file.
        if (QFile::exists(QStringLiteral(MIREL_QQWRY_FILE)))
            QFile::link(QStringLiteral(MIREL_QQWRY_FILE), m_dir.filePath(QStringLiteral("QQWry.Dat")));
        m_previousLauncher = SetLaunchHandler([this](const CLaunchRequest& request) {
            std::function<void()> hook;
            {
                std::lock_guard lock(m_launchMutex);
                m_launches.push_back(request);
                hook = m_launchHook;
            }
            if (hook)
                hook();
            return m_launchResult.load();
        });
        ASSERT_TRUE(OpenStore(m_dir.path()));
    }

    void TearDown() override
    {
        m_page.reset();
        // The page's session thread and any chat launch end once their flags are up.
        EXPECT_TRUE(CWorkerRegistry::StopAll(20000));
        CloseStore();
        SetLaunchHandler(m_previousLauncher);
    }

    CUserListDlg& Page()
    {
        if (!m_page)
            m_page = std::make_unique<CUserListDlg>();
        return *m_page;
    }

    // Shown at a size that holds every column and row, ready for mouse and keys.
    CUserListDlg& ShownPage()
    {
        CUserListDlg& page = Page();
        page.resize(1000, 700);
        page.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&page));
        return page;
    }

    static QDateTime T(int minutes) { return QDateTime(QDate(2024, 5, 1), QTime(8, 0)).addSecs(qint64(minutes) * 60); }

    // Inserts a visit the way monitoring records one.
    static bool AddVisit(const QString& guest, const QString& shop, const QDateTime& time,
                         const QString& imId = QString(), const QString& url = QStringLiteral("未知链接"))
    {
        CUserListVisit visit;
        visit.guest = guest;
        visit.shop = shop;
        visit.time = time;
        visit.imId = imId;
        visit.url = url;
        return AddVisit(visit);
    }

    static bool AddVisit(const CUserListVisit& visit)
    {
        return g_pConnection->Execute(
            QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] , "
                           "[shopurl] , [imuid]) values ('%1','%2','%3','%4',%5,'%6','%7','%8')")
                .arg(SqlText(visit.guest), SqlText(visit.ip), SqlText(visit.shop),
                     visit.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), QStringLiteral("1"),
                     SqlText(visit.city), SqlText(visit.url), SqlText(visit.imId)));
    }

    QStringList Column(int column) const
    {
        QStringList texts;
        const CSortListCtrl* list = m_page->List();
        for (int row = 0; row < list->GetItemCount(); ++row)
            texts << list->GetItemText(row, column);
        return texts;
    }

    QList<int> Images() const
    {
        QList<int> images;
        const CSortListCtrl* list = m_page->List();
        for (int row = 0; row < list->GetItemCount(); ++row)
            images << list->GetItemImage(row);
        return images;
    }

    void SetOnline(const QStringList& names)
    {
        CPresenceLists& lists = m_page->PresenceLists();
        std::lock_guard lock(lists.lock);
        lists.onlineNames = names;
    }

    QStringList PresenceNames()
    {
        CPresenceLists& lists = m_page->PresenceLists();
        std::lock_guard lock(lists.lock);
        return lists.names;
    }

    QStringList PresenceImIds()
    {
        CPresenceLists& lists = m_page->PresenceLists();
        std::lock_guard lock(lists.lock);
        return lists.imIds;
    }

    std::vector<CLaunchRequest> Launches()
    {
        std::lock_guard lock(m_launchMutex);
        return m_launches;
    }

    void SetLaunchHook(std::function<void()> hook)
    {
        std::lock_guard lock(m_launchMutex);
        m_launchHook = std::move(hook);
    }

    // Double-clicks the middle of a cell of the shown page's list.
    void DoubleClickCell(int row, int column)
    {
        CSortListCtrl* list = m_page->List();
        const QRect cell = list->visualRect(list->model()->index(row, column));
        ASSERT_TRUE(cell.isValid() && list->viewport()->rect().contains(cell.center()))
            << "cell " << row << "," << column << " not on screen";
        // As a person does it: the first click of the pair, then the second one.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    }

    QTemporaryDir m_dir;
    CMessageRecorder m_messages;
    std::unique_ptr<CUserListDlg> m_page;
    std::atomic<bool> m_launchResult{true};

private:
    std::mutex m_launchMutex;
    std::vector<CLaunchRequest> m_launches;
    std::function<void()> m_launchHook;
    LaunchHandler m_previousLauncher;
};
