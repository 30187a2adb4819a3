#pragma once
// The configuration page on a real Info.mdb in a temporary directory, its
// service calls going through a recording proxy to a running
// rivuzovara-local, message boxes and status messages recorded.
#include "accounts/Autorun.h"
#include "accounts/ui/ConfigDlg.h"
#include "monitor/MonitorClientThread.h"
#include "platform/DataDirectory.h"
#include "platform/Launcher.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"
#include "support/AccountsTestSupport.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

class ConfigPageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_service = new CLocalService;
        if (!s_service->Start())
            FAIL() << "rivuzovara-local did not start: " << qPrintable(s_service->Error());
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        s_service = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_service && s_service->IsRunning());
        ASSERT_TRUE(m_dir.isValid());
        SetDataDirectory(m_dir.path());
        SetAutostartDirectory(m_dir.filePath(QStringLiteral("autostart")));
        // Nothing a test does may start another program.
        m_previousLauncher = SetLaunchHandler([](const CLaunchRequest&) { return false; });
        ASSERT_TRUE(m_proxy.Start(s_service->TrackingPort()));
        CEndpoints endpoints = s_service->MakeEndpoints();
        endpoints.trackingBase = m_proxy.Base();
        SetEndpoints(endpoints);
        ASSERT_TRUE(OpenStore(m_dir.path()));
    }

    void TearDown() override
    {
        m_page.reset();
        // Every worker the page started ends on its own once its flag is up.
        EXPECT_TRUE(WaitUntil([] { return CWorkerRegistry::RunningCount() == 0; }, 20000));
        CloseStore();
        SetLaunchHandler(m_previousLauncher);
        SetAutostartDirectory(QString());
    }

    CConfigDlg& Page()
    {
        if (!m_page) {
            m_page = std::make_unique<CConfigDlg>();
            m_page->resize(780, 480);
            m_page->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(m_page.get()));
        }
        return *m_page;
    }

    template <typename T> T* Find(const char* name)
    {
        T* widget = Page().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
    QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
    QListWidget* List() { return Find<QListWidget>("accountList"); }

    // Presses a button whose flow runs on a worker, and waits until the flow has ended.
    void PressAndWait(const char* buttonName)
    {
        QPushButton* button = Button(buttonName);
        button->click();
        ASSERT_TRUE(WaitUntil([button] { return button->isEnabled(); })) << buttonName << " stayed disabled";
    }

    // A left click in the account list: on a row, or (-1) on empty space.
    void ClickList(int row)
    {
        QListWidget* list = List();
        QPoint at;
        if (row >= 0) {
            at = list->visualItemRect(list->item(row)).center();
        } else {
            at = QPoint(list->viewport()->width() - 3, list->viewport()->height() - 3);
            ASSERT_FALSE(list->indexAt(at).isValid());
        }
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::qWait(0);
        QCoreApplication::processEvents();
    }

    static void Exec(const QString& sql) { ASSERT_TRUE(g_pConnection->Execute(sql)) << qPrintable(sql); }

    static QList<QStringList> Rows(const QString& sql, const QList<int>& positions)
    {
        QList<QStringList> rows;
        CAdoRecordSet rs(g_pConnection);
        if (!rs.Open(sql))
            return rows;
        for (int guard = 0; !rs.IsEOF() && guard < 10000; ++guard) {
            QStringList row;
            for (int position : positions) {
                QString text;
                rs.GetCollect(position, text);
                row.append(text);
            }
            rows.append(row);
            rs.MoveNext();
        }
        return rows;
    }

    static void InsertAccount(const QString& name, const QString& webId, const QString& small = QStringLiteral("im"),
                              const QString& password = QStringLiteral("pw"),
                              const QString& greeting = QStringLiteral("hi [username]"), int autoSend = 1)
    {
        Exec(QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],"
                            "[autosend]) values ('%1','%2','%3','%4','%5',%6)")
                 .arg(name, small, password, webId, greeting, QString::number(autoSend)));
    }

    // Monitoring asked for and its threads really running.
    bool MonitoringRuns()
    {
        return WaitUntil([this] { return Page().IsMonitoring() && CMonitorClientThread::LiveCount() == 1; });
    }

    static inline CLocalService* s_service = nullptr;
    QTemporaryDir m_dir;
    CFlowLog m_log;
    CRecordingProxy m_proxy;
    std::unique_ptr<CConfigDlg> m_page;
    LaunchHandler m_previousLauncher;
};
