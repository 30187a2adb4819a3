// What a screen reader hears: every interactive element and every control of
// our own in the main window, each of its pages and the dialogs it opens has
// a name.
#include "support/TestMain.h"

#include "accounts/ui/AdvancedSettingDlg.h"
#include "accounts/ui/TeamSettingDlg.h"
#include "app/AboutDlg.h"
#include "app/MirelHelperApp.h"
#include "app/MirelHelperView.h"
#include "history/ui/HistoryDlg.h"
#include "platform/DataDirectory.h"
#include "support/StoreTestSupport.h"

#include <QAccessible>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// Roles a screen reader user acts on; our own classes (named C...) count too: the scroller, the picture,
// the list's header, the pages.
bool NeedsName(QAccessibleInterface* element)
{
    static const QSet<QAccessible::Role> kInteractive{
        QAccessible::PushButton, QAccessible::CheckBox,     QAccessible::RadioButton,    QAccessible::ComboBox,
        QAccessible::SpinBox,    QAccessible::EditableText, QAccessible::List,           QAccessible::Table,
        QAccessible::Tree,       QAccessible::ButtonMenu,   QAccessible::ButtonDropDown, QAccessible::PageTab,
        QAccessible::Link,       QAccessible::Slider,       QAccessible::ToolBar,        QAccessible::MenuItem};
    const QObject* object = element->object();
    return kInteractive.contains(element->role()) ||
           (object && object->isWidgetType() && object->metaObject()->className()[0] == 'C');
}

// Every shown element of the tree below root, and every shown widget's own element (a table's
// header is a widget the table's element does not list).
QStringList UnnamedElements(QWidget* root)
{
    QStringList unnamed;
    QSet<QAccessibleInterface*> seen;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* element, int depth) {
        if (!element || depth > 30 || seen.contains(element) || element->state().invisible)
            return;
        seen.insert(element);
        const QObject* object = element->object();
        if (NeedsName(element) && element->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QStringLiteral("%1 %2 (role %3)")
                           .arg(QLatin1String(object ? object->metaObject()->className() : "part"),
                                object ? object->objectName() : QString())
                           .arg(int(element->role()));
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

} // namespace

TEST(Accessibility, EveryInteractiveElementHasAName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
    SetDataDirectory(dir.path());
    QFile ini(dir.filePath(QStringLiteral("mirelhelper.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    // Nobody listens on port 1: the pages' fetches fail at once.
    ini.write("[endpoints]\ntracking_base=http://127.0.0.1:1\n[sound]\ndevice=null\n");
    ini.close();
    CMessageRecorder boxes;
    CMirelHelperApp app;
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
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
            EXPECT_FALSE(frame->View()->Page(c.page)->accessibleName().isEmpty()) << c.name;
        }
    }
    app.ExitInstance(0);
}
