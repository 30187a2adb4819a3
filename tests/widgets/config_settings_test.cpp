// The system settings group: load, save with the data-exchange prompts, the
// arrows kept in step with their edits, the autostart entry, the live values.
#include "support/TestMain.h"

#include "accounts/LiveSettings.h"
#include "accounts/ui/UpDownCtrl.h"
#include "widgets/config_page_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QToolButton>

namespace {

const QString kSaved = QStringLiteral("系统设置保存成功！");

QString RangePrompt(int lower, int upper)
{
    return QStringLiteral("请输入一个在 %1 和 %2 之间的整数。").arg(lower).arg(upper);
}

} // namespace

class ConfigSettingsTest : public ConfigPageTest
{
protected:
    static void Store(int refresh, int send, int autorun = 0, int clienttip = 0, int guesttip = 1, int playsound = 1)
    {
        Exec(QStringLiteral("update [sysseting] set [autorun] = %1, [clienttip] = %2, [reflashtime] = %3, "
                            "[sendsteptime] = %4, [guesttip] = %5, [playsound] = %6 where [id] = 1")
                 .arg(autorun)
                 .arg(clienttip)
                 .arg(refresh)
                 .arg(send)
                 .arg(guesttip)
                 .arg(playsound));
    }
    static QStringList StoredRow()
    {
        return Rows(QStringLiteral("select * from [sysseting] where [id] = 1"), {1, 2, 3, 4, 5, 6, 7, 8}).value(0);
    }
    // Types into an interval edit the way the owner does (replacing its text).
    void Type(const char* editName, const QString& text)
    {
        QLineEdit* edit = Edit(editName);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    CUpDownCtrl* Spin(const char* name) { return Find<CUpDownCtrl>(name); }
};

struct CLoadCase
{
    int storedRefresh;
    int storedSend;
    const char* shownRefresh;
    const char* shownSend;
    int spinRefresh;
    int spinSend;
};

class ConfigSettingsLoadTest : public ConfigSettingsTest, public ::testing::WithParamInterface<CLoadCase>
{
};

TEST_P(ConfigSettingsLoadTest, IntervalsBelowTheirMinimumAreRaised)
{
    const CLoadCase c = GetParam();
    Store(c.storedRefresh, c.storedSend);
    Page();
    EXPECT_EQ(Edit("refreshIntervalEdit")->text(), QString::fromLatin1(c.shownRefresh));
    EXPECT_EQ(Edit("sendIntervalEdit")->text(), QString::fromLatin1(c.shownSend));
    EXPECT_EQ(Spin("refreshIntervalSpin")->GetPos(), c.spinRefresh);
    EXPECT_EQ(Spin("sendIntervalSpin")->GetPos(), c.spinSend);
    EXPECT_EQ(LiveSettings().reflashtime.load(), QString::fromLatin1(c.shownRefresh).toInt());
    EXPECT_EQ(LiveSettings().sendsteptime.load(), QString::fromLatin1(c.shownSend).toInt());
}

INSTANTIATE_TEST_SUITE_P(Stored, ConfigSettingsLoadTest,
                         ::testing::Values(CLoadCase{5, 1, "20", "5", 20, 5},
                                           CLoadCase{2000, 100, "2000", "100", 1000, 100},
                                           CLoadCase{30, 6, "30", "6", 30, 6}, CLoadCase{20, 5, "20", "5", 20, 5},
                                           CLoadCase{-7, 0, "20", "5", 20, 5}));

TEST_F(ConfigSettingsTest, SwitchesLoadFromTheStoredRow)
{
    Store(30, 6, 1, 1, 0, 0);
    Page();
    EXPECT_TRUE(Find<QCheckBox>("autorunCheck")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("clientTipCheck")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("guestTipCheck")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("playSoundCheck")->isChecked());
    EXPECT_EQ(LiveSettings().clienttip.load(), 1);
    EXPECT_EQ(LiveSettings().guesttip.load(), 0);
    EXPECT_EQ(LiveSettings().playsound.load(), 0);
}

TEST_F(ConfigSettingsTest, MissingRowKeepsTheValuesBeforeLoading)
{
    Exec(QStringLiteral("delete from [sysseting]"));
    Page();
    EXPECT_EQ(Edit("refreshIntervalEdit")->text(), QStringLiteral("30"));
    EXPECT_EQ(Edit("sendIntervalEdit")->text(), QStringLiteral("6"));
    EXPECT_FALSE(Find<QCheckBox>("clientTipCheck")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("guestTipCheck")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("playSoundCheck")->isChecked());
}

TEST_F(ConfigSettingsTest, RefreshAboveItsRangeIsPromptedThenStoredAsTyped)
{
    Store(30, 6, 0, 0, 1, 1);
    Page();
    Type("refreshIntervalEdit", QStringLiteral("1500"));
    // Follows the bad interval in the copy: not taken, not stored.
    Find<QCheckBox>("playSoundCheck")->setChecked(false);
    // Precedes it: taken.
    Find<QCheckBox>("clientTipCheck")->setChecked(true);
    EXPECT_TRUE(m_log.Boxes().isEmpty()) << "typing alone prompts nothing";
    Button("saveSettingsButton")->click();

    EXPECT_EQ(m_log.Boxes(), QStringList({RangePrompt(20, 1000), kSaved}));
    EXPECT_EQ(m_log.Captions(), QStringList({AppTitle(), AppTitle()}));
    EXPECT_EQ(StoredRow(), QStringList({QStringLiteral("FALSE"), QStringLiteral("TRUE"), QStringLiteral("1500"),
                                        QStringLiteral("6"), QStringLiteral("NULL"), QStringLiteral("0"),
                                        QStringLiteral("TRUE"), QStringLiteral("TRUE")}));
    EXPECT_EQ(Edit("refreshIntervalEdit")->text(), QStringLiteral("1500"));
    // The screen shows the values again: the untaken switch is back on.
    EXPECT_TRUE(Find<QCheckBox>("playSoundCheck")->isChecked());
    EXPECT_EQ(LiveSettings().reflashtime.load(), 1500);
}

TEST_F(ConfigSettingsTest, SendBelowItsRangeIsPromptedThenStoredAsItsMinimum)
{
    Page();
    Type("sendIntervalEdit", QStringLiteral("3"));
    Button("saveSettingsButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({RangePrompt(5, 100), kSaved}));
    EXPECT_EQ(StoredRow().value(3), QStringLiteral("5"));
    EXPECT_EQ(Edit("sendIntervalEdit")->text(), QStringLiteral("5"));
    EXPECT_EQ(LiveSettings().sendsteptime.load(), 5);
}

TEST_F(ConfigSettingsTest, EmptyIntervalAsksForANumberAndKeepsThePreviousValue)
{
    Store(45, 6);
    Page();
    Type("refreshIntervalEdit", QString());
    EXPECT_EQ(Edit("refreshIntervalEdit")->text(), QString());
    Button("saveSettingsButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({QStringLiteral("请输入一个整数。"), kSaved}));
    EXPECT_EQ(StoredRow().value(2), QStringLiteral("45"));
    EXPECT_EQ(Edit("refreshIntervalEdit")->text(), QStringLiteral("45"));
}

TEST_F(ConfigSettingsTest, OnlyTheFirstBadIntervalIsPrompted)
{
    Page();
    Type("refreshIntervalEdit", QStringLiteral("5"));
    Type("sendIntervalEdit", QStringLiteral("500"));
    Button("saveSettingsButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({RangePrompt(20, 1000), kSaved}));
    // The send interval was never taken: it keeps 6.
    EXPECT_EQ(StoredRow().mid(2, 2), QStringList({QStringLiteral("20"), QStringLiteral("6")}));
}

TEST_F(ConfigSettingsTest, ValidSaveStoresEverySwitchAndSaysSo)
{
    Page();
    Find<QCheckBox>("clientTipCheck")->setChecked(true);
    Find<QCheckBox>("guestTipCheck")->setChecked(false);
    Type("refreshIntervalEdit", QStringLiteral("60"));
    Type("sendIntervalEdit", QStringLiteral("10"));
    Button("saveSettingsButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({kSaved}));
    EXPECT_EQ(StoredRow(), QStringList({QStringLiteral("FALSE"), QStringLiteral("TRUE"), QStringLiteral("60"),
                                        QStringLiteral("10"), QStringLiteral("NULL"), QStringLiteral("0"),
                                        QStringLiteral("FALSE"), QStringLiteral("TRUE")}));
    EXPECT_EQ(LiveSettings().guesttip.load(), 0);
    EXPECT_EQ(LiveSettings().clienttip.load(), 1);
}

TEST_F(ConfigSettingsTest, SaveWhoseStatementFailsSaysSo)
{
    Page();
    Exec(QStringLiteral("drop table [sysseting]"));
    Button("saveSettingsButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({QStringLiteral("系统设置保存失败！")}));
}

TEST_F(ConfigSettingsTest, OneClickUpAtThirtyShowsThirtyOne)
{
    Page();
    ASSERT_EQ(Edit("refreshIntervalEdit")->text(), QStringLiteral("30"));
    auto* up = Spin("refreshIntervalSpin")->findChild<QToolButton*>(QStringLiteral("upButton"));
    ASSERT_NE(up, nullptr);
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(Edit("refreshIntervalEdit")->text(), QStringLiteral("31"));
    EXPECT_EQ(Spin("refreshIntervalSpin")->GetPos(), 31);
    EXPECT_EQ(LiveSettings().reflashtime.load(), 31);
    EXPECT_TRUE(m_log.Boxes().isEmpty());
}

struct CSpinCase
{
    const char* spin;
    const char* edit;
    const char* start;
    int delta;
    const char* shown;
};

class ConfigSpinTest : public ConfigSettingsTest, public ::testing::WithParamInterface<CSpinCase>
{
};

TEST_P(ConfigSpinTest, ArrowsMoveWithinTheirRange)
{
    const CSpinCase c = GetParam();
    Page();
    Type(c.edit, QString::fromLatin1(c.start));
    CUpDownCtrl* spin = Spin(c.spin);
    EXPECT_EQ(spin->GetPos(), QString::fromLatin1(c.start).toInt()) << "typing moves the arrows' position";
    spin->setFocus();
    QTest::keyClick(spin, c.delta > 0 ? Qt::Key_Up : Qt::Key_Down);
    EXPECT_EQ(Edit(c.edit)->text(), QString::fromLatin1(c.shown));
    EXPECT_EQ(spin->GetPos(), QString::fromLatin1(c.shown).toInt());
}

INSTANTIATE_TEST_SUITE_P(Steps, ConfigSpinTest,
                         ::testing::Values(CSpinCase{"refreshIntervalSpin", "refreshIntervalEdit", "20", -1, "20"},
                                           CSpinCase{"refreshIntervalSpin", "refreshIntervalEdit", "1000", 1, "1000"},
                                           CSpinCase{"refreshIntervalSpin", "refreshIntervalEdit", "500", -1, "499"},
                                           CSpinCase{"sendIntervalSpin", "sendIntervalEdit", "5", -1, "5"},
                                           CSpinCase{"sendIntervalSpin", "sendIntervalEdit", "99", 1, "100"},
                                           CSpinCase{"sendIntervalSpin", "sendIntervalEdit", "100", 1, "100"}));

TEST_F(ConfigSettingsTest, IntervalEditsTakeDigitsOnly)
{
    Page();
    Type("sendIntervalEdit", QStringLiteral("1a2-"));
    EXPECT_EQ(Edit("sendIntervalEdit")->text(), QStringLiteral("12"));
}

TEST_F(ConfigSettingsTest, AutorunWritesAndRemovesTheAutostartEntry)
{
    Page();
    const QString entry = AutostartFilePath();
    ASSERT_TRUE(entry.startsWith(m_dir.path()));
    EXPECT_TRUE(entry.endsWith(QStringLiteral("/Lumo助手-Vexa来客提醒.desktop")));

    Find<QCheckBox>("autorunCheck")->click();
    EXPECT_EQ(LiveSettings().autorun.load(), 1) << "a click takes the switch at once";
    EXPECT_FALSE(QFile::exists(entry)) << "but nothing is written before a save";
    Button("saveSettingsButton")->click();
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=") + QCoreApplication::applicationFilePath() + u'\n'))
        << qPrintable(text);
    EXPECT_EQ(StoredRow().value(0), QStringLiteral("TRUE"));

    Find<QCheckBox>("autorunCheck")->click();
    Button("saveSettingsButton")->click();
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_EQ(m_log.Boxes(), QStringList({kSaved, kSaved}));
}

TEST_F(ConfigSettingsTest, AutostartFolderThatCannotBeWrittenIsNoError)
{
    // A plain file where the folder should be.
    const QString blocker = m_dir.filePath(QStringLiteral("blocked"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SetAutostartDirectory(blocker + QStringLiteral("/autostart"));
    Page();
    Find<QCheckBox>("autorunCheck")->setChecked(true);
    Button("saveSettingsButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({kSaved}));
    EXPECT_EQ(StoredRow().value(0), QStringLiteral("TRUE"));
}
