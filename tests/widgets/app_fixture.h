#pragma once
// Included by the application shell's tests only. What they share: a data
// directory of their own, a tray whose presence the test decides, desktop
// notifications recorded, every message box recorded, and the application
// started and ended by the test.
#include "support/WaitUntil.h"

#include "accounts/AdvancedSettings.h"
#include "accounts/LiveSettings.h"
#include "accounts/ui/AdvancedSettingDlg.h"
#include "app/GuiMessageBox.h"
#include "app/MainFrame.h"
#include "app/MirelHelperApp.h"
#include "app/MirelHelperView.h"
#include "app/PageFactory.h"
#include "controls/ui/TrueColorToolBar.h"
#include "monitor/ViewHearing.h"
#include "notify/AlertSound.h"
#include "notify/OwnerNotifier.h"
#include "platform/DataDirectory.h"
#include "platform/Endpoints.h"
#include "platform/TextCodec.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"
#include "support/StoreTestSupport.h"
#include "support/XvfbSession.h"
#include "tables/SettingsTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

inline int CountRows(const QString& table)
{
    CAdoRecordSet rs;
    if (!rs.Open(QStringLiteral("select * from [%1]").arg(table)))
        return -1;
    int n = 0;
    while (!rs.IsEOF()) {
        ++n;
        rs.MoveNext();
    }
    return n;
}

// Runs the application's event loop while steps happen; a guard ends a loop
// that would otherwise never end, and the test then fails on the result.
inline int RunEventLoop(const std::function<void()>& whenRunning, int guardMs = 20000)
{
    QTimer::singleShot(0, qApp, whenRunning);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(guardMs);
    return QApplication::exec();
}

// A worker as the project builds them: registered while it runs, stops on its flag.
class CTestWorker : public QThread
{
public:
    std::atomic<int> m_stop{0};
    std::atomic<bool> m_ignoreStop{false};
    std::atomic<bool> m_callWindowThread{false};
    std::atomic<bool> m_running{false};

    // A check that gave up early still ends the thread before it is destroyed;
    // events are served meanwhile, since it may be waiting for this thread.
    ~CTestWorker() override
    {
        m_ignoreStop = false;
        m_stop = 1;
        while (!wait(10))
            QCoreApplication::processEvents();
    }

protected:
    void run() override
    {
        CWorkerScope scope(this, &m_stop);
        m_running = true;
        while (!m_stop.load() || m_ignoreStop.load()) {
            // Like a refill request: waits for the window's thread.
            if (m_callWindowThread.load())
                QMetaObject::invokeMethod(
                    qApp, [] {}, Qt::BlockingQueuedConnection);
            QThread::msleep(5);
        }
    }
};

class AppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("settings")));
        SetDataDirectory(m_dir.path());
        QFile ini(m_dir.filePath(QStringLiteral("mirelhelper.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        // Nobody listens on port 1: the help pages fail at once.
        ini.write("[endpoints]\ntracking_base=http://127.0.0.1:1\nmaker_site=http://127.0.0.1:1/maker\n");
        ini.close();
        CTrayIcon::SetDefaultTrayProbe([this] { return m_trayExists.load(); });
        CTrayIcon::SetDefaultDesktopSender([this](const QString&, const QString& body) {
            m_notified.append(body);
            return true;
        });
        LiveSettings().playsound = 0;
    }

    void TearDown() override
    {
        if (m_app && !m_exited)
            m_app->ExitInstance(0);
        m_app.reset();
        // Nothing a test started may outlive it.
        EXPECT_EQ(CWorkerRegistry::RunningCount(), 0);
        PageFactory() = CPageFactory{};
        CTrayIcon::SetDefaultTrayProbe({});
        CTrayIcon::SetDefaultDesktopSender({});
        LiveSettings().playsound = 1;
    }

    CMainFrame* StartApp()
    {
        m_app = std::make_unique<CMirelHelperApp>();
        EXPECT_TRUE(m_app->InitInstance());
        return m_app->MainFrame();
    }

    int Exit()
    {
        m_exited = true;
        return m_app->ExitInstance(0);
    }

    QTemporaryDir m_dir;
    CMessageRecorder m_boxes;
    std::atomic<bool> m_trayExists{true};
    QStringList m_notified;
    std::unique_ptr<CMirelHelperApp> m_app;
    bool m_exited = false;
};
