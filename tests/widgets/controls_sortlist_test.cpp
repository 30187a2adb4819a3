// The sortable list: headings, ordering rules, direction toggling, rows that
// keep together, selection across a sort, saved column widths.
#include "support/TestMain.h"

#include "controls/ui/SortListCtrl.h"

#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QStringList Column(const CSortListCtrl& list, int column)
{
    QStringList texts;
    for (int row = 0; row < list.GetItemCount(); ++row)
        texts.append(list.GetItemText(row, column));
    return texts;
}

class SortListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QCoreApplication::setOrganizationName(QStringLiteral("MirelHelp - ZorIrevov"));
    }
    QTemporaryDir m_settingsDir;
};

} // namespace

// ---- headings

struct HeadingsCase
{
    const char* text;
    QStringList names;
    QList<int> widths;
};

class HeadingsTest : public ::testing::TestWithParam<HeadingsCase>
{
};

TEST_P(HeadingsTest, ColumnsFromNameWidthPairs)
{
    const HeadingsCase& c = GetParam();
    CSortListCtrl list;
    EXPECT_TRUE(list.SetHeadings(QString::fromUtf8(c.text)));
    ASSERT_EQ(list.GetColumnCount(), c.names.size());
    for (int i = 0; i < c.names.size(); ++i) {
        EXPECT_EQ(list.model()->headerData(i, Qt::Horizontal).toString(), c.names[i]);
        EXPECT_EQ(list.horizontalHeader()->sectionSize(i), c.widths[i]) << "column " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HeadingsTest,
    ::testing::Values(HeadingsCase{"no comma at all", {}, {}}, HeadingsCase{"", {}, {}},
                      HeadingsCase{"A,30", {"A"}, {30}}, HeadingsCase{"A,30;", {"A"}, {30}},
                      HeadingsCase{"A,30;B,45", {"A", "B"}, {30, 45}},
                      HeadingsCase{"A,30;tail without comma", {"A"}, {30}},
                      HeadingsCase{"访客,100;IP,100;店铺,110;最后访问时间,120;次数,40;所属地区,100;商品地址,270",
                                   {"访客", "IP", "店铺", "最后访问时间", "次数", "所属地区", "商品地址"},
                                   {100, 100, 110, 120, 40, 100, 270}},
                      HeadingsCase{"编号,50;访客,100;IP,70;店铺,130;最后访问时间,120;次数,40;所属地区,100;商品地址,100",
                                   {"编号", "访客", "IP", "店铺", "最后访问时间", "次数", "所属地区", "商品地址"},
                                   {50, 100, 70, 130, 120, 40, 100, 100}}));

TEST(SortListHeadings, SecondCallAppendsColumns)
{
    CSortListCtrl list;
    ASSERT_TRUE(list.SetHeadings(QStringLiteral("A,10")));
    ASSERT_TRUE(list.SetHeadings(QStringLiteral("B,20;C,30")));
    EXPECT_EQ(list.GetColumnCount(), 3);
    EXPECT_EQ(list.model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("C"));
}

// ---- the comparison itself

struct CompareCase
{
    const char* a;
    const char* b;
    bool ascending;
    int expected;
};

class CompareTest : public ::testing::TestWithParam<CompareCase>
{
};

TEST_P(CompareTest, FirstValueChoosesTheRule)
{
    const CompareCase& c = GetParam();
    EXPECT_EQ(CSortListCtrl::CompareFunction(QString::fromUtf8(c.a), QString::fromUtf8(c.b), c.ascending), c.expected)
        << c.a << " vs " << c.b << (c.ascending ? " ascending" : " descending");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CompareTest,
    ::testing::Values(
        // Digits compare as numbers, not as text.
        CompareCase{"9", "10", true, -1}, CompareCase{"10", "9", true, 1}, CompareCase{"100", "100", true, 0},
        CompareCase{"9", "100", true, -1}, CompareCase{"0009", "10", true, -1},
        // Descending swaps the two.
        CompareCase{"9", "10", false, 1}, CompareCase{"10", "9", false, -1},
        // An empty first value counts as the number 0.
        CompareCase{"", "5", true, -1}, CompareCase{"", "", true, 0},
        // A decimal point in the first value makes it text: "10.5" < "9" as text.
        CompareCase{"10.5", "9", true, -1},
        // ...while a numeric first value reads only the leading digits of the second.
        CompareCase{"9", "10.5", true, -1}, CompareCase{"11", "10.5", true, 1},
        // dd/mm/yyyy compare as dates: year, then month, then day.
        CompareCase{"01/02/2024", "31/01/2024", true, 1}, CompareCase{"31/12/2023", "01/01/2024", true, -1},
        CompareCase{"15/06/2024", "15/06/2024", true, 0}, CompareCase{"02/03/2024", "01/03/2024", false, -1},
        // Visit times are text, which orders them in time.
        CompareCase{"2024-01-05 09:00:00", "2024-01-05 10:00:00", true, -1},
        CompareCase{"2023-12-31 23:59:59", "2024-01-01 00:00:00", true, -1}, CompareCase{"apple", "banana", true, -1},
        CompareCase{"apple", "banana", false, 1}));

TEST(SortListCompare, TextIsCaseSensitive)
{
    EXPECT_NE(CSortListCtrl::CompareFunction(QStringLiteral("abc"), QStringLiteral("ABC"), true), 0);
    EXPECT_EQ(CSortListCtrl::CompareFunction(QStringLiteral("abc"), QStringLiteral("ABC"), true),
              -CSortListCtrl::CompareFunction(QStringLiteral("ABC"), QStringLiteral("abc"), true));
}

struct DateCase
{
    const char* text;
    bool isDate;
};

class IsDateTest : public ::testing::TestWithParam<DateCase>
{
};

TEST_P(IsDateTest, OnlyTheExactForm)
{
    EXPECT_EQ(CSortListCtrl::IsDate(QString::fromUtf8(GetParam().text)), GetParam().isDate) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Forms, IsDateTest,
                         ::testing::Values(DateCase{"01/02/2024", true}, DateCase{"99/99/0000", true},
                                           DateCase{"1/02/2024", false}, DateCase{"01-02-2024", false},
                                           DateCase{"01/02/20245", false}, DateCase{"0a/02/2024", false},
                                           DateCase{"2024-01-02", false}, DateCase{"", false}));

// ---- sorting through header clicks

TEST(SortListOrdering, CountsSortAsNumbersThenToggle)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("访客,100;次数,40"));
    list.AddItem({QStringLiteral("c"), QStringLiteral("100")});
    list.AddItem({QStringLiteral("a"), QStringLiteral("9")});
    list.AddItem({QStringLiteral("b"), QStringLiteral("10")});

    list.OnColumnClick(1);
    EXPECT_EQ(Column(list, 1), (QStringList{"9", "10", "100"}));
    // Rows move as a whole.
    EXPECT_EQ(Column(list, 0), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(list.SortColumn(), 1);
    EXPECT_TRUE(list.IsAscending());
    EXPECT_EQ(list.SortHeader()->sortIndicatorSection(), 1);
    EXPECT_EQ(list.SortHeader()->sortIndicatorOrder(), Qt::AscendingOrder);

    list.OnColumnClick(1);
    EXPECT_EQ(Column(list, 1), (QStringList{"100", "10", "9"}));
    EXPECT_FALSE(list.IsAscending());
    EXPECT_EQ(list.SortHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    // Another column starts ascending again, and the arrow moves there.
    list.OnColumnClick(0);
    EXPECT_EQ(Column(list, 0), (QStringList{"a", "b", "c"}));
    EXPECT_TRUE(list.IsAscending());
    EXPECT_EQ(list.SortHeader()->SortColumn(), 0);
    EXPECT_EQ(list.SortHeader()->sortIndicatorSection(), 0);
}

TEST(SortListOrdering, HeaderClickSortsLikeOnColumnClick)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("N,40"));
    for (const char* v : {"30", "4", "200"})
        list.AddItem({QString::fromUtf8(v)});
    list.resize(200, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    const QPoint centre(list.horizontalHeader()->sectionViewportPosition(0) + 10,
                        list.horizontalHeader()->height() / 2);
    QTest::mouseClick(list.horizontalHeader()->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(Column(list, 0), (QStringList{"4", "30", "200"}));
    QTest::mouseClick(list.horizontalHeader()->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(Column(list, 0), (QStringList{"200", "30", "4"}));
}

TEST(SortListOrdering, DecimalFirstValueMakesTheColumnTextual)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("N,40"));
    list.AddItem({QStringLiteral("10.5")});
    list.AddItem({QStringLiteral("9")});
    list.OnColumnClick(0);
    // Text order: "10.5" before "9" (numbers would put 9 first).
    EXPECT_EQ(Column(list, 0), (QStringList{"10.5", "9"}));

    CSortListCtrl whole;
    whole.SetHeadings(QStringLiteral("N,40"));
    whole.AddItem({QStringLiteral("10")});
    whole.AddItem({QStringLiteral("9")});
    whole.OnColumnClick(0);
    EXPECT_EQ(Column(whole, 0), (QStringList{"9", "10"}));
}

TEST(SortListOrdering, DatesSortByYearMonthDay)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("D,80"));
    for (const char* v : {"15/03/2024", "01/12/2023", "02/03/2024", "31/01/2024"})
        list.AddItem({QString::fromUtf8(v)});
    list.OnColumnClick(0);
    EXPECT_EQ(Column(list, 0), (QStringList{"01/12/2023", "31/01/2024", "02/03/2024", "15/03/2024"}));
    list.OnColumnClick(0);
    EXPECT_EQ(Column(list, 0), (QStringList{"15/03/2024", "02/03/2024", "31/01/2024", "01/12/2023"}));
}

TEST(SortListOrdering, LaterRowsWaitForTheNextClickAndDeleteKeepsState)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("N,40"));
    list.AddItem({QStringLiteral("5")});
    list.AddItem({QStringLiteral("1")});
    list.OnColumnClick(0);
    EXPECT_EQ(list.AddItem({QStringLiteral("3")}), 2);
    EXPECT_EQ(Column(list, 0), (QStringList{"1", "5", "3"}));

    ASSERT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.GetColumnCount(), 1);
    EXPECT_EQ(list.SortColumn(), 0);
    // The same column clicked again toggles: the sort state survived the delete.
    list.AddItem({QStringLiteral("1")});
    list.AddItem({QStringLiteral("2")});
    list.OnColumnClick(0);
    EXPECT_EQ(Column(list, 0), (QStringList{"2", "1"}));
}

TEST(SortListOrdering, SortedKeysAgreeWithCompareFunction)
{
    // The sort reads each cell once; the order it gives must be the one the
    // comparison itself gives, for each kind of column.
    QRandomGenerator rng(12345);
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("num,40;date,80;text,80"));
    for (int i = 0; i < 500; ++i) {
        const QString date = QStringLiteral("%1/%2/%3")
                                 .arg(rng.bounded(1, 29), 2, 10, QLatin1Char('0'))
                                 .arg(rng.bounded(1, 13), 2, 10, QLatin1Char('0'))
                                 .arg(rng.bounded(1990, 2030));
        QString text;
        for (int k = 0, n = rng.bounded(1, 6); k < n; ++k)
            text.append(QChar(u"aBcDeFxyZ 访客"[rng.bounded(13)]));
        list.AddItem({QString::number(rng.bounded(100000)), date, text});
    }
    for (int column = 0; column < 3; ++column) {
        for (int click = 0; click < 2; ++click) {
            list.OnColumnClick(column);
            for (int row = 1; row < list.GetItemCount(); ++row) {
                ASSERT_LE(CSortListCtrl::CompareFunction(list.GetItemText(row - 1, column),
                                                         list.GetItemText(row, column), list.IsAscending()),
                          0)
                    << "column " << column << " row " << row;
            }
        }
    }
}

// The order as the list gave it before sorts read each cell once: a stable
// bottom-up merge asking CompareFunction for every pair.
QStringList MergedCellByCell(QStringList texts, bool ascending)
{
    QStringList buffer = texts;
    for (qsizetype width = 1; width < texts.size(); width *= 2) {
        for (qsizetype lo = 0; lo < texts.size(); lo += 2 * width) {
            const qsizetype mid = std::min(lo + width, texts.size()), hi = std::min(lo + 2 * width, texts.size());
            qsizetype i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                buffer[k++] =
                    CSortListCtrl::CompareFunction(texts[i], texts[j], ascending) <= 0 ? texts[i++] : texts[j++];
            while (i < mid)
                buffer[k++] = texts[i++];
            while (j < hi)
                buffer[k++] = texts[j++];
        }
        texts.swap(buffer);
    }
    return texts;
}

class MixedColumnTest : public ::testing::TestWithParam<int>
{
};

// Numbers, dates and text in one column make no consistent order; a short
// list sorts at once, a long one on a worker, and both give the old order exactly.
TEST_P(MixedColumnTest, GivesTheOrderOfTheCellByCellMerge)
{
    QRandomGenerator rng(7);
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("mixed,40;id,40"));
    const QString samples[] = {"12",
                               "10.5",
                               "abc",
                               "01/02/2020",
                               "",
                               "9",
                               "ABC",
                               "31/12/1999",
                               "7x",
                               "100",
                               "访客",
                               "访",
                               "-5",
                               " 42",
                               "abd",
                               QString::fromUcs4(U"\U0001F600x"),
                               QString(QChar(0xE000)),
                               "2024-01-02 10:00:00",
                               "99/99/0000",
                               "0012"};
    auto block = std::make_shared<CTextRows>(2);
    QStringList texts;
    for (int i = 0; i < GetParam(); ++i) {
        texts << samples[rng.bounded(20)] + (rng.bounded(3) == 0 ? QString::number(rng.bounded(50)) : QString());
        block->AppendRow({texts.back(), QString::number(i)});
    }
    list.AppendRows(block);
    const QStringList stored = texts;
    for (const bool ascending : {true, false}) {
        QSignalSpy sorted(&list, &CSortListCtrl::RowsSorted);
        list.OnColumnClick(0);
        ASSERT_TRUE(sorted.count() == 1 || sorted.wait(20000));
        ASSERT_EQ(list.IsAscending(), ascending);
        texts = MergedCellByCell(texts, ascending);
        ASSERT_EQ(Column(list, 0), texts);
        // Repeated and unique texts of a row stay together.
        const QStringList ids = Column(list, 1);
        for (int row = 0; row < ids.size(); ++row)
            ASSERT_EQ(stored[ids[row].toInt()], texts[row]) << row;
    }
}

INSTANTIATE_TEST_SUITE_P(InlineAndOnAWorker, MixedColumnTest, ::testing::Values(3000, 30000));

// ---- rows, images, selection

TEST(SortListRows, TextsImagesAndShortRows)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("A,10;B,10;C,10"));
    QPixmap red(16, 16);
    red.fill(Qt::red);
    list.SetImageList({QIcon(red), QIcon(red)});
    EXPECT_EQ(list.AddItemWithImage(1, {QStringLiteral("x"), QStringLiteral("y")}), 0);
    EXPECT_EQ(list.AddItem({QStringLiteral("p"), QStringLiteral("q"), QStringLiteral("r"), QStringLiteral("extra")}),
              1);
    EXPECT_EQ(list.GetItemText(0, 2), QString());
    EXPECT_EQ(list.GetItemText(1, 2), QStringLiteral("r"));
    EXPECT_EQ(list.GetItemText(1, 3), QString());
    EXPECT_EQ(list.GetItemText(5, 0), QString());
    EXPECT_EQ(list.GetItemImage(0), 1);
    EXPECT_EQ(list.GetItemImage(1), -1);
    EXPECT_FALSE(list.model()->data(list.model()->index(0, 0), Qt::DecorationRole).isNull());
    EXPECT_TRUE(list.model()->data(list.model()->index(1, 0), Qt::DecorationRole).isNull());
    list.SetItemImage(1, 0);
    EXPECT_EQ(list.GetItemImage(1), 0);
    EXPECT_FALSE(list.model()->data(list.model()->index(1, 0), Qt::DecorationRole).isNull());
    EXPECT_TRUE(list.SetItemText(0, 1, QStringLiteral("changed")));
    EXPECT_EQ(list.GetItemText(0, 1), QStringLiteral("changed"));
    EXPECT_FALSE(list.SetItemText(0, 7, QStringLiteral("nowhere")));
}

TEST(SortListRows, SelectionAndMarkFollowTheirRows)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("N,40"));
    for (const char* v : {"9", "100", "10"})
        list.AddItem({QString::fromUtf8(v)});
    EXPECT_EQ(list.GetSelectionMark(), -1);
    list.SetSelectionMark(0);
    EXPECT_EQ(list.GetSelectionMark(), 0);
    list.selectRow(0);
    EXPECT_EQ(list.GetSelectedRows(), (QList<int>{0}));

    list.OnColumnClick(0);
    list.OnColumnClick(0); // descending: 100, 10, 9
    EXPECT_EQ(Column(list, 0), (QStringList{"100", "10", "9"}));
    EXPECT_EQ(list.GetSelectedRows(), (QList<int>{2}));
    EXPECT_EQ(list.GetSelectionMark(), 2);

    list.SetSelectionMark(-1);
    EXPECT_EQ(list.GetSelectionMark(), -1);
    list.DeleteAllItems();
    EXPECT_TRUE(list.GetSelectedRows().isEmpty());
}

TEST(SortListRows, ClicksReportRowAndColumn)
{
    CSortListCtrl list;
    list.SetHeadings(QStringLiteral("A,60;B,60"));
    list.AddItem({QStringLiteral("a0"), QStringLiteral("b0")});
    list.AddItem({QStringLiteral("a1"), QStringLiteral("b1")});
    list.resize(200, 150);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QSignalSpy clicks(&list, &CSortListCtrl::ItemClicked);
    QSignalSpy doubles(&list, &CSortListCtrl::ItemDoubleClicked);
    const QRect cell = list.visualRect(list.model()->index(1, 1));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(clicks.size(), 1);
    EXPECT_EQ(clicks[0][0].toInt(), 1);
    EXPECT_EQ(clicks[0][1].toInt(), 1);
    EXPECT_EQ(list.GetSelectionMark(), 1);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(doubles.size(), 1);
    EXPECT_EQ(doubles[0][0].toInt(), 1);
    // Below the last row: no row, no signal.
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, QPoint(10, list.viewport()->height() - 3));
    EXPECT_EQ(doubles.size(), 1);
}

// ---- saved column widths

TEST_F(SortListTest, ColumnWidthsRoundTripThroughSettings)
{
    {
        CSortListCtrl list;
        list.setObjectName(QStringLiteral("visitorList"));
        list.SetHeadings(QStringLiteral("A,50;B,60;C,70"));
        list.horizontalHeader()->resizeSection(1, 133);
        list.SaveColumnInfo();
    }
    CSortListCtrl again;
    again.setObjectName(QStringLiteral("visitorList"));
    again.SetHeadings(QStringLiteral("A,50;B,60;C,70"));
    again.LoadColumnInfo();
    EXPECT_EQ(again.horizontalHeader()->sectionSize(0), 50);
    EXPECT_EQ(again.horizontalHeader()->sectionSize(1), 133);

    // Another list's widths are its own; a different column count ignores them.
    CSortListCtrl other;
    other.setObjectName(QStringLiteral("historyList"));
    other.SetHeadings(QStringLiteral("A,50;B,60;C,70"));
    other.LoadColumnInfo();
    EXPECT_EQ(other.horizontalHeader()->sectionSize(1), 60);
    CSortListCtrl fewer;
    fewer.setObjectName(QStringLiteral("visitorList"));
    fewer.SetHeadings(QStringLiteral("A,50;B,60"));
    fewer.LoadColumnInfo();
    EXPECT_EQ(fewer.horizontalHeader()->sectionSize(1), 60);

    QSettings settings;
    EXPECT_EQ(settings.organizationName(), QStringLiteral("MirelHelp - ZorIrevov"));
    EXPECT_TRUE(settings.contains(QStringLiteral("ColumnInfo/visitorList/widths")));
}

TEST_F(SortListTest, ListThatLoadedItsWidthsSavesThemOnTheWayOut)
{
    {
        CSortListCtrl list;
        list.setObjectName(QStringLiteral("pageList"));
        list.SetHeadings(QStringLiteral("A,50;B,60"));
        list.LoadColumnInfo();
        list.horizontalHeader()->resizeSection(0, 77);
    }
    {
        // Never loaded: leaves the stored widths alone.
        CSortListCtrl passerBy;
        passerBy.setObjectName(QStringLiteral("pageList"));
        passerBy.SetHeadings(QStringLiteral("A,50;B,60"));
        passerBy.horizontalHeader()->resizeSection(0, 10);
    }
    CSortListCtrl again;
    again.setObjectName(QStringLiteral("pageList"));
    again.SetHeadings(QStringLiteral("A,50;B,60"));
    again.LoadColumnInfo();
    EXPECT_EQ(again.horizontalHeader()->sectionSize(0), 77);
    EXPECT_EQ(again.horizontalHeader()->sectionSize(1), 60);
}
