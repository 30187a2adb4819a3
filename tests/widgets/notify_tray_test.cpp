// The notification-area icon (modes, texts and their limits, menu, mouse
// messages, no-tray fallback) and the visitor card.
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "controls/ui/OutsideText.h"
#include "notify/ui/ShowOneClientDlg.h"
#include "notify/ui/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

namespace {

struct Sent
{
    QString title;
    QString body;
};

class TrayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_window.setWindowTitle(QStringLiteral("Lumo网店助手-Vexa来客提醒 V1.1"));
        m_tray.SetTrayProbe([this] { return m_trayExists; });
        m_tray.SetDesktopSender([this](const QString& title, const QString& body) {
            m_sent.push_back({title, body});
            return true;
        });
    }
    QWidget m_window;
    CTrayIcon m_tray;
    bool m_trayExists = true;
    std::vector<Sent> m_sent;
};

} // namespace

TEST_F(TrayTest, BalloonModeShowsTheWelcomeBalloon)
{
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, true));
    EXPECT_TRUE(m_tray.IsAdded());
    EXPECT_TRUE(m_tray.IsBalloonMode());
    EXPECT_EQ(m_tray.Flags(), 0x17u);
    EXPECT_EQ(m_tray.BalloonText(), QStringLiteral("欢迎使用!"));
    EXPECT_EQ(m_tray.BalloonTitle(), m_window.windowTitle());
    EXPECT_EQ(m_tray.Tip(), m_window.windowTitle());
    EXPECT_TRUE(m_tray.SystemTrayIcon()->isVisible());
    EXPECT_EQ(m_tray.SystemTrayIcon()->toolTip(), TextAsTooltip(m_window.windowTitle()));
    EXPECT_TRUE(m_sent.empty()) << "a real tray needs no desktop notification";

    // Alerts replace the balloon's text; title, tip and flags stay.
    ASSERT_TRUE(m_tray.SetTooltipText(QStringLiteral("访客: a")));
    ASSERT_TRUE(m_tray.SetTooltipText(QStringLiteral("访客: b")));
    EXPECT_EQ(m_tray.BalloonText(), QStringLiteral("访客: b"));
    EXPECT_EQ(m_tray.Flags(), 0x17u);
    EXPECT_EQ(m_tray.Tip(), m_window.windowTitle());
    EXPECT_TRUE(m_tray.ShowLastBalloon());
    EXPECT_EQ(m_tray.BalloonText(), QStringLiteral("访客: b"));
}

TEST_F(TrayTest, TipModeChangesOnlyTheTooltip)
{
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, false));
    EXPECT_FALSE(m_tray.IsBalloonMode());
    EXPECT_EQ(m_tray.Flags(), 0x7u);
    EXPECT_EQ(m_tray.Tip(), QStringLiteral("欢迎使用!"));
    EXPECT_EQ(m_tray.BalloonText(), QString());
    ASSERT_TRUE(m_tray.SetTooltipText(QStringLiteral("新访客")));
    EXPECT_EQ(m_tray.Flags(), 0x4u);
    EXPECT_EQ(m_tray.Tip(), QStringLiteral("新访客"));
    EXPECT_EQ(m_tray.SystemTrayIcon()->toolTip(), TextAsTooltip(QStringLiteral("新访客")));
    EXPECT_EQ(m_tray.BalloonText(), QString());
}

TEST_F(TrayTest, TextsAreCutToTheirLimits)
{
    const QString longText = QString(400, QChar(u'访'));
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, true));
    m_tray.SetTooltipText(longText);
    EXPECT_EQ(m_tray.BalloonText().size(), 255);
    m_tray.RemoveIcon();
    m_window.setWindowTitle(QString(100, QChar(u'T')));
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, true));
    EXPECT_EQ(m_tray.BalloonTitle().size(), 63);
    EXPECT_EQ(m_tray.Tip().size(), 100);
    m_tray.RemoveIcon();
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, false));
    m_tray.SetTooltipText(longText);
    EXPECT_EQ(m_tray.Tip().size(), 127);
}

struct CutCase
{
    const char* name;
    QString text;
    int capacity;
    QString expected;
};

class CutTest : public ::testing::TestWithParam<CutCase>
{
};

TEST_P(CutTest, WholeCharacters)
{
    EXPECT_EQ(CTrayIcon::CutToCapacity(GetParam().text, GetParam().capacity), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Cases, CutTest,
                         ::testing::Values(CutCase{"fits", QStringLiteral("abc"), 4, QStringLiteral("abc")},
                                           CutCase{"one too many", QStringLiteral("abcd"), 4, QStringLiteral("abc")},
                                           CutCase{"no room", QStringLiteral("abc"), 1, QString()},
                                           // A character outside the basic plane is never split.
                                           CutCase{"surrogate pair at the cut", QStringLiteral("ab\U0001F600"), 4,
                                                   QStringLiteral("ab")},
                                           CutCase{"surrogate pair that fits", QStringLiteral("a\U0001F600"), 4,
                                                   QStringLiteral("a\U0001F600")}));

TEST_F(TrayTest, WithoutAnIconTextsGoNowhere)
{
    EXPECT_FALSE(m_tray.SetTooltipText(QStringLiteral("x")));
    EXPECT_FALSE(m_tray.ShowLastBalloon());
    EXPECT_FALSE(m_tray.RemoveIcon());
    EXPECT_FALSE(m_tray.Create(QIcon(), nullptr, true)) << "no owner window";
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, true));
    ASSERT_TRUE(m_tray.RemoveIcon());
    EXPECT_FALSE(m_tray.IsAdded());
    EXPECT_EQ(m_tray.Flags(), 0u);
    EXPECT_FALSE(m_tray.SystemTrayIcon()->isVisible());
    EXPECT_FALSE(m_tray.SetTooltipText(QStringLiteral("x")));
    EXPECT_TRUE(m_sent.empty());
}

TEST_F(TrayTest, NoNotificationAreaUsesDesktopNotifications)
{
    m_trayExists = false;
    EXPECT_FALSE(m_tray.Create(QIcon(), &m_window, true));
    ASSERT_EQ(m_sent.size(), 1u);
    EXPECT_EQ(m_sent[0].title, m_window.windowTitle());
    EXPECT_EQ(m_sent[0].body, QStringLiteral("欢迎使用!"));
    EXPECT_TRUE(m_tray.SetTooltipText(QString(300, QChar(u'x'))));
    ASSERT_EQ(m_sent.size(), 2u);
    EXPECT_EQ(m_sent[1].body.size(), 255);
    EXPECT_FALSE(m_tray.SystemTrayIcon()->isVisible());

    // Tip mode has no welcome balloon, but its alerts still reach the owner.
    CTrayIcon tip;
    std::vector<Sent> tipSent;
    tip.SetTrayProbe([] { return false; });
    tip.SetDesktopSender([&](const QString& title, const QString& body) {
        tipSent.push_back({title, body});
        return true;
    });
    EXPECT_FALSE(tip.Create(QIcon(), &m_window, false));
    EXPECT_TRUE(tipSent.empty());
    EXPECT_TRUE(tip.SetTooltipText(QStringLiteral("访客: 戊")));
    ASSERT_EQ(tipSent.size(), 1u);
    EXPECT_EQ(tipSent[0].title, m_window.windowTitle());
    EXPECT_EQ(tipSent[0].body, QStringLiteral("访客: 戊"));
    // Removing the icon also ends the fallback.
    tip.RemoveIcon();
    EXPECT_FALSE(tip.SetTooltipText(QStringLiteral("x")));
    EXPECT_EQ(tipSent.size(), 1u);
}

TEST_F(TrayTest, MenuHasHideShowExitWithHideBold)
{
    std::unique_ptr<QMenu> menu(m_tray.CreateMenu(nullptr));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("隐藏"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("显示"));
    EXPECT_EQ(actions[2]->text(), QStringLiteral("退出"));
    EXPECT_EQ(actions[0]->property("commandId").toInt(), 32778);
    EXPECT_EQ(actions[1]->property("commandId").toInt(), 32776);
    EXPECT_EQ(actions[2]->property("commandId").toInt(), 32777);
    EXPECT_EQ(menu->defaultAction(), actions[0]);

    QSignalSpy commands(&m_tray, &CTrayIcon::Command);
    actions[2]->trigger();
    actions[1]->trigger();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands[0][0].toInt(), 32777);
    EXPECT_EQ(commands[1][0].toInt(), 32776);
}

TEST_F(TrayTest, MouseMessages)
{
    m_window.show();
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, false));
    QSignalSpy commands(&m_tray, &CTrayIcon::Command);
    EXPECT_EQ(m_tray.OnTrayNotification(999, CTrayIcon::kRButtonUp), 0);
    EXPECT_EQ(m_tray.Menu(), nullptr);

    // Right-button release: the menu pops up.
    EXPECT_EQ(m_tray.OnTrayNotification(CTrayIcon::kIconId, CTrayIcon::kRButtonUp), 1);
    ASSERT_NE(m_tray.Menu(), nullptr);
    EXPECT_TRUE(m_tray.Menu()->isVisible());
    EXPECT_EQ(m_tray.Menu()->actions().size(), 3);
    EXPECT_EQ(m_tray.Menu()->defaultAction()->text(), QStringLiteral("隐藏"));
    m_tray.Menu()->actions()[1]->trigger();
    m_tray.Menu()->hide();
    ASSERT_EQ(commands.size(), 1);
    EXPECT_EQ(commands[0][0].toInt(), CTrayIcon::kCmdShow);
    EXPECT_TRUE(WaitUntil([this] { return m_tray.Menu() == nullptr; }, 2000)) << "a hidden menu is deleted";

    // A double click passed on runs the default item.
    EXPECT_EQ(m_tray.OnTrayNotification(CTrayIcon::kIconId, CTrayIcon::kLButtonDblClk), 1);
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands[1][0].toInt(), CTrayIcon::kCmdHide);

    EXPECT_EQ(m_tray.OnTrayNotification(CTrayIcon::kIconId, CTrayIcon::kMouseMove), 1);
    EXPECT_EQ(m_tray.OnTrayNotification(CTrayIcon::kIconId, CTrayIcon::kLButtonUp), 1);
    EXPECT_EQ(commands.size(), 2);
}

TEST_F(TrayTest, ActivationsBecomeMouseMessages)
{
    ASSERT_TRUE(m_tray.Create(QIcon(), &m_window, false));
    QSignalSpy messages(&m_tray, &CTrayIcon::Notification);
    for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Trigger,
                        QSystemTrayIcon::MiddleClick})
        Q_EMIT m_tray.SystemTrayIcon()->activated(reason);
    ASSERT_EQ(messages.size(), 4);
    EXPECT_EQ(messages[0][1].toInt(), CTrayIcon::kRButtonUp);
    EXPECT_EQ(messages[1][1].toInt(), CTrayIcon::kLButtonDblClk);
    EXPECT_EQ(messages[2][1].toInt(), CTrayIcon::kLButtonUp);
    EXPECT_EQ(messages[3][1].toInt(), CTrayIcon::kMButtonUp);
    for (const auto& m : messages)
        EXPECT_EQ(m[0].toInt(), CTrayIcon::kIconId);
}

// ---- visitor card

TEST(ShowOneClientDlg, EmptyNameEndsAtOnce)
{
    CShowOneClientDlg dialog;
    bool appeared = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, &dialog, [&] {
        if (dialog.isVisible()) {
            appeared = true;
            dialog.reject();
        }
    });
    probe.start(10);
    EXPECT_EQ(dialog.exec(), 0);
    EXPECT_FALSE(appeared);
}

TEST(ShowOneClientDlg, ShowsTheVisitor)
{
    CShowOneClientDlg dialog;
    dialog.SetVisitorName(QStringLiteral("买家<甲>"));
    dialog.SetVisitorImId(QStringLiteral("im_42"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("客户信息"));
    QString seen;
    QTimer::singleShot(0, &dialog, [&] {
        seen = dialog.Browser()->toPlainText();
        dialog.reject();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(seen.contains(QStringLiteral("买家<甲>"))) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("im_42")));
}
