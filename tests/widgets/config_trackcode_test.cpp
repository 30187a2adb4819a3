// The "生成代码" command of the configuration page and the snippet dialog.
#include "support/TestMain.h"

#include "trackcode/ui/MakeCodeDlg.h"
#include "widgets/config_page_fixture.h"

#include <QApplication>
#include <QGroupBox>
#include <QTimer>

namespace {

struct CShownDialog
{
    bool shown = false;
    QString title;
    QString head;
    QString snippet;
    QString methodOne;
    QString address;
    QString methodTwo;
    bool methodTwoVisible = true;
    bool snippetReadOnly = false;
};

// Waits (on the dialog's own event loop) for the modal dialog, reads it and closes it.
void ReadDialogWhenShown(CShownDialog& out)
{
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, tries, &out] {
        CMakeCodeDlg* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* candidate = qobject_cast<CMakeCodeDlg*>(widget); candidate && candidate->isVisible())
                dialog = candidate;
        }
        if (!dialog) {
            if (++*tries > 500)
                poll->deleteLater();
            return;
        }
        out.shown = true;
        out.title = dialog->windowTitle();
        out.head = dialog->findChild<QPlainTextEdit*>(QStringLiteral("headTextEdit"))->toPlainText();
        auto* snippet = dialog->findChild<QLineEdit*>(QStringLiteral("snippetEdit"));
        out.snippet = snippet->text();
        out.snippetReadOnly = snippet->isReadOnly();
        out.methodOne = dialog->findChild<QPlainTextEdit*>(QStringLiteral("methodOneTextEdit"))->toPlainText();
        out.address = dialog->findChild<QLineEdit*>(QStringLiteral("addressEdit"))->text();
        out.methodTwo = dialog->findChild<QPlainTextEdit*>(QStringLiteral("methodTwoTextEdit"))->toPlainText();
        out.methodTwoVisible = dialog->findChild<QGroupBox*>(QStringLiteral("methodTwoGroup"))->isVisible();
        dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        poll->deleteLater();
    });
    poll->start(10);
}

} // namespace

struct CSnippetCase
{
    const char* storedWebId;
    const char* id;
};

class ConfigTrackCodeTest : public ConfigPageTest, public ::testing::WithParamInterface<CSnippetCase>
{
};

TEST_P(ConfigTrackCodeTest, ShowsTheSnippetOfTheSelectedAccount)
{
    const CSnippetCase c = GetParam();
    InsertAccount(QStringLiteral("shopcode"), QString::fromLatin1(c.storedWebId));
    Page();
    ClickList(0);
    CShownDialog shown;
    ReadDialogWhenShown(shown);
    Button("makeCodeButton")->click();

    ASSERT_TRUE(shown.shown);
    EXPECT_TRUE(m_log.Boxes().isEmpty());
    const QString address = m_proxy.Base() + QStringLiteral("/rivuzovara/shop.asp?id=") + QString::fromLatin1(c.id);
    EXPECT_EQ(shown.title, QStringLiteral("网店代码生成"));
    EXPECT_EQ(shown.snippet,
              QStringLiteral("<img height=\"0\" src=\"") + address + QStringLiteral("\" width=\"0\" />"));
    EXPECT_FALSE(shown.snippet.contains(u'\n'));
    EXPECT_TRUE(shown.snippetReadOnly);
    EXPECT_EQ(shown.address, address);
    EXPECT_EQ(shown.head,
              QStringLiteral("\t请将下列代码保存到 [ shopcode ] 的店铺,请将代码贴到您要监视的商品的宝贝描述中."));
    EXPECT_EQ(shown.methodOne, QStringLiteral("\t请将上面复制到您的店铺的商品描述里。"));
    EXPECT_TRUE(shown.methodTwo.startsWith(QStringLiteral("\t在您的店铺里，新建一个分类")));
    EXPECT_FALSE(shown.methodTwoVisible);
}

INSTANTIATE_TEST_SUITE_P(WebIds, ConfigTrackCodeTest,
                         ::testing::Values(CSnippetCase{"12345", "12345"}, CSnippetCase{"007", "7"},
                                           CSnippetCase{" 42abc", "42"}));

struct CRefusedCase
{
    const char* storedName;
    const char* storedWebId;
    bool select;
    const char* message;
};

class ConfigTrackCodeRefusalTest : public ConfigPageTest, public ::testing::WithParamInterface<CRefusedCase>
{
};

TEST_P(ConfigTrackCodeRefusalTest, ShowsNoDialog)
{
    const CRefusedCase c = GetParam();
    InsertAccount(QString::fromUtf8(c.storedName), QString::fromLatin1(c.storedWebId));
    Page();
    if (c.select)
        ClickList(0);
    CShownDialog shown;
    ReadDialogWhenShown(shown);
    Button("makeCodeButton")->click();
    EXPECT_FALSE(shown.shown);
    EXPECT_EQ(m_log.Boxes(), QStringList({QString::fromUtf8(c.message)}));
}

INSTANTIATE_TEST_SUITE_P(Refused, ConfigTrackCodeRefusalTest,
                         ::testing::Values(CRefusedCase{"shop", "12345", false, "请选择一个用户后再操作!"},
                                           CRefusedCase{"shop", "0", true, "数据出错!"},
                                           CRefusedCase{"shop", "id-9", true, "数据出错!"},
                                           CRefusedCase{"", "12345", true, "数据出错!"}));
