// What a screen reader hears: every interactive element and every control of
// our own in the main window, each of its pages and the dialogs it opens has
// a name.
#include "support/TestMain.h"

#include "accounts/LiveSettings.h"
#include "accounts/ui/AdvancedSettingDlg.h"
#include "accounts/ui/TeamSettingDlg.h"
#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/MirelHelperApp.h"
#include "app/MirelHelperView.h"
#include "history/HistoryDlg.h"
#include "notify/TrayIcon.h"
#include "platform/DataDirectory.h"
#include "support/StoreTestSupport.h"

#include <QAccessible>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

bool NeedsName(QAccessibleInterface* element)
{
    switch (element->role()) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::EditableText:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::PageTab:
    case QAccessible::Link:
    case QAccessible::Slider:
    case QAccessible::ToolBar:
    case QAccessible::MenuItem:
        return true;
    default:
        break;
    }
    // Our own controls and pages (the scroller, the picture, the list's header, ...).
    const QObject* object = element->object();
    return object && object->isWidgetType() && object->metaObject()->className()[0] == 'C';
}

QString Describe(QAccessibleInterface* element)
{
    const QObject* object = element->object();
    return QStringLiteral("%1 (role %2)")
        .arg(object
                 ? QStringLiteral("%1 %2").arg(QLatin1String(object->metaObject()->className()), object->objectName())
                 : QStringLiteral("part of its parent"))
        .arg(int(element->role()));
}

// Every shown element of the tree below root, and every shown widget's own
// element (a table's header is a widget the table's element does not list).
QStringList UnnamedElements(QWidget* root)
{
    QStringList unnamed;
    QSet<QAccessibleInterface*> seen;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* element, int depth) {
        if (!element || depth > 30 || seen.contains(element) || element->state().invisible)
            return;
        seen.insert(element);
        if (NeedsName(element) && element->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << Describe(element);
        for (int i = 0; i < element->childCount(); ++i)
            walk(element->child(i), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(root), 0);
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (widget->isVisible())
            walk(QAccessible::queryAccessibleInterface(widget), 0);
    }
    return unnamed;
}

class AccessibilityTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("settings")));
        SetDataDirectory(m_dir.path());
        QFile ini(m_dir.filePath(QStringLiteral("mirelhelper.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        // Nobody listens on port 1: the pages' fetches fail at once.
        ini.write("[endpoints]\ntracking_base=http://127.0.0.1:1\nmaker_site=http://127.0.0.1:1/maker\n");
        ini.close();
        CTrayIcon::SetDefaultTrayProbe([] { return true; });
        LiveSettings().playsound = 0;
        m_app = std::make_unique<CMirelHelperApp>();
        ASSERT_TRUE(m_app->InitInstance());
    }
    void TearDown() override
    {
        if (m_app)
            m_app->ExitInstance(0);
        m_app.reset();
        CTrayIcon::SetDefaultTrayProbe({});
        LiveSettings().playsound = 1;
    }

    QTemporaryDir m_dir;
    CMessageRecorder m_boxes;
    std::unique_ptr<CMirelHelperApp> m_app;
};

} // namespace

TEST_F(AccessibilityTest, EveryInteractiveElementHasAName)
{
    CMainFrame* frame = m_app->MainFrame();
    ASSERT_NE(frame, nullptr);
    const struct
    {
        const char* name;
        int page;
        std::function<QWidget*()> dialog; // empty: the main window on that page
    } cases[] = {
        {"visitor list", CMirelHelperView::kUserListPage, {}},
        {"settings", CMirelHelperView::kConfigPage, {}},
        {"help", CMirelHelperView::kHelpPage, {}},
        {"featured shops", CMirelHelperView::kAdPage, {}},
        {"statistics", CMirelHelperView::kStatisticsPage, {}},
        {"history", -1, [frame] { return new CHistoryDlg(frame); }},
        {"advanced settings", -1, [frame] { return new CAdvancedSettingDlg(frame); }},
        {"team settings", -1, [frame] { return new CTeamSettingDlg(frame); }},
        {"about", -1, [frame] { return new CAboutDlg(frame); }},
    };
    for (const auto& c : cases) {
        std::unique_ptr<QWidget> dialog(c.dialog ? c.dialog() : nullptr);
        if (dialog)
            dialog->show();
        else
            frame->View()->ShowPage(c.page);
        QWidget* root = dialog ? dialog.get() : frame;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(root));
        const QStringList unnamed = UnnamedElements(root);
        EXPECT_TRUE(unnamed.isEmpty()) << c.name << ": " << unnamed.join(QStringLiteral("; ")).toStdString();
        // The page itself says what it is.
        if (!dialog) {
            QAccessibleInterface* page = QAccessible::queryAccessibleInterface(frame->View()->Page(c.page));
            ASSERT_NE(page, nullptr);
            EXPECT_FALSE(page->text(QAccessible::Name).isEmpty()) << c.name;
        }
    }
}
