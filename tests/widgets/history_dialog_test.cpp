#include "support/TestMain.h"

#include "history_fixture.h"

#include "app/PageFactory.h"
#include "store/AdoRecordSet.h"
#include "tables/VisitStatements.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>

namespace {

const QString kQuestion = QStringLiteral("删除的信息将无法恢复,您确定删除吗?");

QDateTime At(const QDate& day, int h, int m, int s)
{
    return QDateTime(day, QTime(h, m, s));
}

} // namespace

using HistoryDialog = CHistoryDialogTest;

TEST_F(HistoryDialog, OpensWithEveryControlAllRowsAndSortedShops)
{
    const QDate today = QDate::currentDate();
    for (const char* shop : {"zeta", "alpha", "店铺乙", "mid"})
        ASSERT_TRUE(m_store->AddShop(QString::fromUtf8(shop)));
    const int first = m_store->AddVisit({QStringLiteral("v1"), QStringLiteral("alpha"), At(today, 1, 0, 0)});
    const int second = m_store->AddVisit({QStringLiteral("v2"), QStringLiteral("zeta"), At(today, 2, 0, 0)});

    CHistoryDlg& dialog = Dialog();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("历史记录管理"));
    const struct
    {
        const char* name;
        const char* text;
    } buttons[] = {{"showDayButton", "查看该天"},
                   {"showVisitorButton", "查看访客"},
                   {"showShopButton", "查看店铺"},
                   {"deleteRangeButton", "删除该日期之间的记录"},
                   {"showAllButton", "显示所有记录"},
                   {"deleteSelectedButton", "删除所选记录"},
                   {"exportButton", "导出列表到Excel"},
                   {"closeButton", "关闭"},
                   {"rankingButton", "顾客最喜爱的商品排序"}};
    for (const auto& b : buttons) {
        auto* button = Find<QPushButton>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.text)) << b.name;
        EXPECT_FALSE(button->isHidden()) << b.name;
        EXPECT_FALSE(button->autoDefault()) << b.name;
    }
    QSet<QString> labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        labels.insert(label->text());
    for (const char* text : {"日期", "访客名", "店铺名", "开始时间", "结束时间"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
    ASSERT_NE(Find<QGroupBox>("filterGroupBox"), nullptr);
    EXPECT_TRUE(Find<QGroupBox>("filterGroupBox")->title().isEmpty());
    for (const char* name : {"dayDateEdit", "rangeStartDateEdit", "rangeEndDateEdit"}) {
        auto* edit = Find<QDateEdit>(name);
        ASSERT_NE(edit, nullptr) << name;
        EXPECT_EQ(edit->date(), today) << name;
        EXPECT_TRUE(edit->calendarPopup()) << name;
    }
    ASSERT_NE(Find<QLineEdit>("visitorEdit"), nullptr);
    EXPECT_TRUE(Find<QLineEdit>("visitorEdit")->text().isEmpty());

    auto* shops = Find<QComboBox>("shopCombo");
    ASSERT_NE(shops, nullptr);
    EXPECT_FALSE(shops->isEditable());
    QStringList items;
    for (int i = 0; i < shops->count(); ++i)
        items << shops->itemText(i);
    EXPECT_EQ(items, (QStringList{QStringLiteral("alpha"), QStringLiteral("mid"), QStringLiteral("zeta"),
                                  QStringLiteral("店铺乙")}));
    EXPECT_EQ(shops->currentIndex(), -1);

    CSortListCtrl* list = dialog.List();
    ASSERT_EQ(list->GetColumnCount(), 8);
    const QStringList headings = {QStringLiteral("编号"),     QStringLiteral("访客"),         QStringLiteral("IP"),
                                  QStringLiteral("店铺"),     QStringLiteral("最后访问时间"), QStringLiteral("次数"),
                                  QStringLiteral("所属地区"), QStringLiteral("商品地址")};
    const int widths[] = {50, 100, 70, 130, 120, 40, 100, 100};
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), headings.at(c));
        EXPECT_EQ(list->horizontalHeader()->sectionSize(c), widths[c]) << c;
    }
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(list->showGrid());

    // Newest first, every column as the store gives it, [imuid] not shown.
    EXPECT_EQ(ListIds(), (QList<int>{second, first}));
    EXPECT_EQ(list->GetItemText(0, 1), QStringLiteral("v2"));
    EXPECT_EQ(list->GetItemText(0, 2), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(list->GetItemText(0, 3), QStringLiteral("zeta"));
    EXPECT_EQ(list->GetItemText(0, 4), At(today, 2, 0, 0).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    EXPECT_EQ(list->GetItemText(0, 5), QStringLiteral("1"));
    EXPECT_EQ(list->GetItemText(0, 6), QStringLiteral("未知区域"));
    EXPECT_EQ(list->GetItemText(0, 7), QStringLiteral("http://item.example/1"));
    EXPECT_TRUE(m_boxes.isEmpty());
}

TEST_F(HistoryDialog, DayShowsMidnightToLastSecondOnly)
{
    const QDate day(2023, 12, 31);
    const int before = m_store->AddVisit({QStringLiteral("a"), QStringLiteral("s"), At(day.addDays(-1), 23, 59, 59)});
    const int start = m_store->AddVisit({QStringLiteral("b"), QStringLiteral("s"), At(day, 0, 0, 0)});
    const int noon = m_store->AddVisit({QStringLiteral("c"), QStringLiteral("s"), At(day, 12, 30, 0)});
    const int last = m_store->AddVisit({QStringLiteral("d"), QStringLiteral("s"), At(day, 23, 59, 59)});
    const int next = m_store->AddVisit({QStringLiteral("e"), QStringLiteral("s"), At(day.addDays(1), 0, 0, 0)});
    ASSERT_GT(before, 0);
    ASSERT_GT(next, 0);

    Dialog();
    Find<QDateEdit>("dayDateEdit")->setDate(day);
    Click("showDayButton");
    EXPECT_EQ(ListIds(), (QList<int>{last, noon, start}));

    // A day without visits gives an empty list.
    Find<QDateEdit>("dayDateEdit")->setDate(QDate(2023, 6, 1));
    Click("showDayButton");
    EXPECT_EQ(Dialog().List()->GetItemCount(), 0);
    Find<QDateEdit>("dayDateEdit")->setDate(day.addDays(1));
    Click("showDayButton");
    EXPECT_EQ(ListIds(), QList<int>{next});
    EXPECT_TRUE(Dialog().statements.isEmpty());
}

TEST_F(HistoryDialog, RangeOfOneDayDeletesExactlyThatDay)
{
    const QDate day(2024, 2, 29);
    const int keepBefore =
        m_store->AddVisit({QStringLiteral("a"), QStringLiteral("s"), At(day.addDays(-1), 23, 59, 59)});
    m_store->AddVisit({QStringLiteral("b"), QStringLiteral("s"), At(day, 0, 0, 0)});
    m_store->AddVisit({QStringLiteral("c"), QStringLiteral("s"), At(day, 23, 59, 59)});
    const int keepAfter = m_store->AddVisit({QStringLiteral("d"), QStringLiteral("s"), At(day.addDays(1), 0, 0, 0)});

    Dialog();
    Find<QDateEdit>("rangeStartDateEdit")->setDate(day);
    Find<QDateEdit>("rangeEndDateEdit")->setDate(day);
    Click("deleteRangeButton");

    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes[0].text, kQuestion);
    EXPECT_EQ(m_boxes[0].buttons, EMsgButtons::YesNo);
    EXPECT_EQ(m_boxes[0].icon, EMsgIcon::Question);
    EXPECT_EQ(m_boxes[0].caption, AppTitle());
    EXPECT_EQ(Dialog().statements, QStringList{HistoryDeleteRangeSql(day, day)});
    EXPECT_EQ(CHistoryTestStore::Ids(HistoryShowAllSql()), (QList<int>{keepAfter, keepBefore}));
    EXPECT_EQ(ListIds(), (QList<int>{keepAfter, keepBefore}));
}

TEST_F(HistoryDialog, AnsweringNoDeletesNothing)
{
    const QDate day = QDate::currentDate();
    for (int i = 0; i < 4; ++i)
        m_store->AddVisit({QStringLiteral("v%1").arg(i), QStringLiteral("s"), At(day, 8, i, 0)});
    m_answer = kIdNo;
    Dialog();
    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("v1"));
    Click("showVisitorButton");
    const QList<int> shown = ListIds();
    ASSERT_EQ(shown.size(), 1);
    Dialog().List()->selectRow(0);

    Click("deleteSelectedButton");
    Click("deleteRangeButton");
    EXPECT_EQ(m_boxes.size(), 2);
    EXPECT_TRUE(Dialog().statements.isEmpty());
    EXPECT_EQ(CHistoryTestStore::CountVisits(), 4);
    // The list is left as it was: still the filtered row.
    EXPECT_EQ(ListIds(), shown);
}

TEST_F(HistoryDialog, ThreeSelectedRowsGoInOneDeleteThenAllRows)
{
    const QDate day = QDate::currentDate();
    QList<int> ids;
    for (const char* name : {"ann", "bob", "anna", "cat", "hannah", "dan"})
        ids << m_store->AddVisit({QString::fromUtf8(name), QStringLiteral("s"), At(day, 9, int(ids.size()), 0)});

    Dialog();
    // Filter to the four names with "an", then select three of them.
    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("an"));
    Click("showVisitorButton");
    ASSERT_EQ(ListIds(), (QList<int>{ids[5], ids[4], ids[2], ids[0]}));
    CSortListCtrl* list = Dialog().List();
    list->clearSelection();
    for (int row : {0, 1, 3})
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_answer = kIdYes;
    Click("deleteSelectedButton");

    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes[0].text, kQuestion);
    // One statement for the three, so they go in one transaction.
    EXPECT_EQ(Dialog().statements, QStringList{HistoryDeleteRowsSql(
                                       {QString::number(ids[5]), QString::number(ids[4]), QString::number(ids[0])})});
    // Then every remaining row, not the filter.
    EXPECT_EQ(ListIds(), (QList<int>{ids[3], ids[2], ids[1]}));
    EXPECT_EQ(CHistoryTestStore::CountVisits(), 3);
    // The delete clears freed pages lightly; the connection's own setting is back afterwards.
    ASSERT_TRUE(ExecuteVisitDelete(HistoryDeleteRowSql(QString::number(ids[3]))));
    CAdoRecordSet setting;
    QString secureDelete;
    ASSERT_TRUE(setting.Open(QStringLiteral("pragma secure_delete")) && setting.GetCollect(0, secureDelete));
    EXPECT_EQ(secureDelete, QStringLiteral("1"));
}

TEST_F(HistoryDialog, NoSelectionStillAsksAndRefillsWithAllRows)
{
    const QDate day = QDate::currentDate();
    const int a = m_store->AddVisit({QStringLiteral("a"), QStringLiteral("s"), At(day, 1, 0, 0)});
    const int b = m_store->AddVisit({QStringLiteral("b"), QStringLiteral("s"), At(day, 2, 0, 0)});
    Dialog();
    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("a"));
    Click("showVisitorButton");
    ASSERT_EQ(ListIds(), QList<int>{a});
    Dialog().List()->clearSelection();
    Click("deleteSelectedButton");
    EXPECT_EQ(m_boxes.size(), 1);
    EXPECT_TRUE(Dialog().statements.isEmpty());
    EXPECT_EQ(ListIds(), (QList<int>{b, a}));
}

TEST_F(HistoryDialog, OneLetterVisitorTextListsEveryNameContainingIt)
{
    const QDate day = QDate::currentDate();
    QList<QPair<QString, int>> visits;
    for (const char* name : {"alice", "bob", "Carl", "dave", "eve", "ZARA", "李a四", "x"})
        visits.append({QString::fromUtf8(name), m_store->AddVisit({QString::fromUtf8(name), QStringLiteral("s"),
                                                                   At(day, 3, int(visits.size()), 0)})});
    Dialog();
    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("a"));
    Click("showVisitorButton");
    QList<int> expected;
    for (auto it = visits.crbegin(); it != visits.crend(); ++it) {
        if (it->first.contains(QLatin1Char('a'), Qt::CaseInsensitive))
            expected << it->second;
    }
    ASSERT_EQ(expected.size(), 5);
    EXPECT_EQ(ListIds(), expected);

    // An empty text matches every row.
    Find<QLineEdit>("visitorEdit")->clear();
    Click("showVisitorButton");
    EXPECT_EQ(Dialog().List()->GetItemCount(), visits.size());
}

TEST_F(HistoryDialog, NamesWithQuotesFilterCorrectly)
{
    const QDate day = QDate::currentDate();
    ASSERT_TRUE(m_store->AddShop(QStringLiteral("Tom's shop")));
    ASSERT_TRUE(m_store->AddShop(QStringLiteral("other")));
    const int quoted = m_store->AddVisit({QStringLiteral("o'neil"), QStringLiteral("Tom's shop"), At(day, 1, 0, 0)});
    const int plain = m_store->AddVisit({QStringLiteral("oneil"), QStringLiteral("other"), At(day, 2, 0, 0)});
    const int tricky = m_store->AddVisit({QStringLiteral("x' or '1'='1"), QStringLiteral("other"), At(day, 3, 0, 0)});

    Dialog();
    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("o'n"));
    Click("showVisitorButton");
    EXPECT_EQ(ListIds(), QList<int>{quoted});
    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("' or '1'='1"));
    Click("showVisitorButton");
    EXPECT_EQ(ListIds(), QList<int>{tricky});

    auto* shops = Find<QComboBox>("shopCombo");
    shops->setCurrentIndex(shops->findText(QStringLiteral("Tom's shop")));
    Click("showShopButton");
    EXPECT_EQ(ListIds(), QList<int>{quoted});
    shops->setCurrentIndex(shops->findText(QStringLiteral("other")));
    Click("showShopButton");
    EXPECT_EQ(ListIds(), (QList<int>{tricky, plain}));
    // Nothing chosen: every shop.
    shops->setCurrentIndex(-1);
    Click("showShopButton");
    EXPECT_EQ(ListIds().size(), 3);
    EXPECT_TRUE(m_boxes.isEmpty());
}

TEST_F(HistoryDialog, RankingListsItemAddressesByVisitsMostFirst)
{
    const QDate day = QDate::currentDate();
    const QString a = QStringLiteral("http://item.example/a"), b = QStringLiteral("http://item.example/b"),
                  c = QStringLiteral("未知链接");
    int minute = 0;
    for (const QString& url : {c, a, b, a, b, a, a})
        m_store->AddVisit({QStringLiteral("v"), QStringLiteral("s"), At(day, 5, minute++, 0), url});

    Dialog();
    Click("rankingButton");
    EXPECT_EQ(Column(7), (QStringList{a, b, c}));
    EXPECT_EQ(Column(5), (QStringList{QStringLiteral("4"), QStringLiteral("2"), QStringLiteral("1")}));
    EXPECT_EQ(Column(0), (QStringList{QString(), QString(), QString()}));

    // A ranking row has no id: deleting it issues nothing and deletes nothing.
    Dialog().List()->selectAll();
    Click("deleteSelectedButton");
    EXPECT_TRUE(Dialog().statements.isEmpty());
    EXPECT_EQ(CHistoryTestStore::CountVisits(), 7);
    EXPECT_EQ(Dialog().List()->GetItemCount(), 7);
}

TEST_F(HistoryDialog, DoubleClickOpensTheCardOfTheMarkedRow)
{
    const QDate day = QDate::currentDate();
    m_store->AddVisit({QStringLiteral("first"), QStringLiteral("s"), At(day, 1, 0, 0)});
    m_store->AddVisit({QStringLiteral("张三"), QStringLiteral("s"), At(day, 2, 0, 0)});
    CHistoryDlg& dialog = Dialog();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    CSortListCtrl* list = dialog.List();

    const QRect cell = list->visualRect(list->model()->index(1, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(m_cards.size(), 1);
    EXPECT_EQ(m_cards[0].first, QStringLiteral("first"));
    // The card also gets the visitor's IM ID from the store.
    EXPECT_EQ(m_cards[0].second, QStringLiteral("portrait"));

    list->SetSelectionMark(0);
    dialog.OnDblClkList(0);
    ASSERT_EQ(m_cards.size(), 2);
    EXPECT_EQ(m_cards[1].first, QStringLiteral("张三"));

    // A double-click on no row opens nothing.
    dialog.OnDblClkList(-1);
    const QPoint below(5, list->viewport()->height() - 3);
    ASSERT_FALSE(list->indexAt(below).isValid());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(m_cards.size(), 2);
}

TEST_F(HistoryDialog, EnterAndEscDoNothingCloseEndsLikeOk)
{
    const QDate day = QDate::currentDate();
    m_store->AddVisit({QStringLiteral("a"), QStringLiteral("s"), At(day, 1, 0, 0)});
    m_store->AddVisit({QStringLiteral("b"), QStringLiteral("s"), At(day, 2, 0, 0)});
    CHistoryDlg& dialog = Dialog();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* visitor = Find<QLineEdit>("visitorEdit");
    visitor->setFocus();
    visitor->setText(QStringLiteral("a"));

    QTest::keyClick(visitor, Qt::Key_Return);
    QTest::keyClick(visitor, Qt::Key_Enter);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(dialog.List(), Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.List()->GetItemCount(), 2); // no filter was run
    EXPECT_TRUE(m_boxes.isEmpty());

    Click("closeButton");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    // The close box ends with result 0.
    dialog.setResult(-1);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
}

TEST_F(HistoryDialog, HistoryCommandRunsTheDialogModally)
{
    m_store->AddVisit({QStringLiteral("a"), QStringLiteral("s"), At(QDate::currentDate(), 1, 0, 0)});
    QString title;
    int rows = -1;
    int ticks = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (auto* dialog = qobject_cast<CHistoryDlg*>(QApplication::activeModalWidget())) {
            title = dialog->windowTitle();
            rows = dialog->List()->GetItemCount();
            poll.stop();
            dialog->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
        } else if (++ticks > 500) {
            poll.stop();
            if (QWidget* other = QApplication::activeModalWidget())
                other->close();
        }
    });
    poll.start();
    // The main window's history command goes through the page factory.
    PageFactory().openHistoryDialog(nullptr);
    EXPECT_EQ(title, QStringLiteral("历史记录管理"));
    EXPECT_EQ(rows, 1);
}
