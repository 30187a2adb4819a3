#include "history/ui/HistoryDlg.h"
#include "controls/ui/DialogKeys.h"

#include "controls/ui/SortListCtrl.h"
#include "history/ui/ListExport.h"
#include "notify/ui/ShowOneClientDlg.h"
#include "platform/MessageBox.h"
#include "platform/OneShot.h"
#include "tables/AccountTable.h"
#include "tables/VisitStatements.h"
#include "tables/VisitTable.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The list shows [client] from [id] to [shopurl], in table order (store/Columns.h).
const QList<int> kVisitPositions = {0, 1, 2, 3, 4, 5, 6, 7};
// The ranking: the count in the count column, the address in the item address column.
const QList<int> kRankingPositions = {-1, -1, -1, -1, -1, 1, -1, 0};
const char* const kDeleteQuestion = "删除的信息将无法恢复,您确定删除吗?";

VisitorCardOpener g_cardOpener;

void OpenVisitorCardDialog(QWidget* parent, const QString& visitorName, const QString& visitorImId)
{
    CShowOneClientDlg card(parent);
    card.SetVisitorName(visitorName);
    card.SetVisitorImId(visitorImId);
    card.exec();
}

QPushButton* MakeButton(QWidget* parent, const QString& text, const char* objectName)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(objectName));
    // Enter in the filter fields must not press any button.
    button->setAutoDefault(false);
    return button;
}

QDateEdit* MakeDateEdit(QWidget* parent, const char* objectName)
{
    // The page never sets the pickers: they show the day it was opened.
    auto* edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setObjectName(QLatin1String(objectName));
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy/M/d"));
    return edit;
}

} // namespace

VisitorCardOpener SetVisitorCardOpener(VisitorCardOpener opener)
{
    std::swap(g_cardOpener, opener);
    return opener;
}

CHistoryDlg::CHistoryDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("historyDialog"));
    setWindowTitle(QStringLiteral("历史记录管理"));
    BuildControls();

    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->SetHeadings(QString::fromUtf8(kHistoryHeadings));
    m_list->LoadColumnInfo();

    FillShops();
    OnShowAll();
}

CHistoryDlg::~CHistoryDlg()
{
    StopFilling();
}

void CHistoryDlg::BuildControls()
{
    auto* filters = new QGroupBox(this);
    filters->setObjectName(QStringLiteral("filterGroupBox"));
    auto* grid = new QGridLayout(filters);

    m_dayEdit = MakeDateEdit(filters, "dayDateEdit");
    auto* showDay = MakeButton(filters, QStringLiteral("查看该天"), "showDayButton");
    m_visitorEdit = new QLineEdit(filters);
    m_visitorEdit->setObjectName(QStringLiteral("visitorEdit"));
    auto* showVisitor = MakeButton(filters, QStringLiteral("查看访客"), "showVisitorButton");
    m_shopCombo = new QComboBox(filters);
    m_shopCombo->setObjectName(QStringLiteral("shopCombo"));
    m_shopCombo->setEditable(false);
    m_shopCombo->setMinimumContentsLength(10);
    auto* showShop = MakeButton(filters, QStringLiteral("查看店铺"), "showShopButton");
    m_rangeStartEdit = MakeDateEdit(filters, "rangeStartDateEdit");
    m_rangeEndEdit = MakeDateEdit(filters, "rangeEndDateEdit");
    auto* deleteRange = MakeButton(filters, QStringLiteral("删除该日期之间的记录"), "deleteRangeButton");

    // Each label names its field, for screen readers too.
    auto labelFor = [filters](const QString& text, QWidget* field) {
        auto* label = new QLabel(text, filters);
        label->setBuddy(field);
        return label;
    };
    grid->addWidget(labelFor(QStringLiteral("日期"), m_dayEdit), 0, 0);
    grid->addWidget(m_dayEdit, 0, 1);
    grid->addWidget(showDay, 0, 2);
    grid->addWidget(labelFor(QStringLiteral("访客名"), m_visitorEdit), 0, 3);
    grid->addWidget(m_visitorEdit, 0, 4);
    grid->addWidget(showVisitor, 0, 5);
    grid->addWidget(labelFor(QStringLiteral("店铺名"), m_shopCombo), 0, 6);
    grid->addWidget(m_shopCombo, 0, 7);
    grid->addWidget(showShop, 0, 8);
    grid->addWidget(labelFor(QStringLiteral("开始时间"), m_rangeStartEdit), 1, 0);
    grid->addWidget(m_rangeStartEdit, 1, 1);
    grid->addWidget(labelFor(QStringLiteral("结束时间"), m_rangeEndEdit), 1, 3);
    grid->addWidget(m_rangeEndEdit, 1, 4);
    grid->addWidget(deleteRange, 1, 5, 1, 4, Qt::AlignLeft);
    grid->setColumnStretch(4, 1);
    grid->setColumnStretch(7, 1);

    m_list = new CSortListCtrl(this);
    m_list->setObjectName(QStringLiteral("historyList"));
    m_list->setAccessibleName(QStringLiteral("访问记录"));
    m_list->setAccessibleDescription(QStringLiteral("双击一行查看客户信息"));

    auto* showAll = MakeButton(this, QStringLiteral("显示所有记录"), "showAllButton");
    auto* deleteSelected = MakeButton(this, QStringLiteral("删除所选记录"), "deleteSelectedButton");
    auto* exportList = MakeButton(this, QStringLiteral("导出列表到Excel"), "exportButton");
    m_exportButton = exportList;
    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(QStringLiteral("rowCountLabel"));
    m_countLabel->setTextFormat(Qt::PlainText);
    auto* ranking = MakeButton(this, QStringLiteral("顾客最喜爱的商品排序"), "rankingButton");
    auto* close = MakeButton(this, QStringLiteral("关闭"), "closeButton");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(showAll);
    buttons->addWidget(deleteSelected);
    buttons->addWidget(exportList);
    buttons->addWidget(ranking);
    buttons->addStretch(1);
    buttons->addWidget(m_countLabel);
    buttons->addWidget(close);

    auto* page = new QVBoxLayout(this);
    page->addWidget(filters);
    page->addWidget(m_list, 1);
    page->addLayout(buttons);
    resize(860, 520);

    connect(showDay, &QPushButton::clicked, this, &CHistoryDlg::OnShowDay);
    connect(showVisitor, &QPushButton::clicked, this, &CHistoryDlg::OnShowVisitor);
    connect(showShop, &QPushButton::clicked, this, &CHistoryDlg::OnShowShop);
    connect(deleteRange, &QPushButton::clicked, this, &CHistoryDlg::OnDeleteRange);
    connect(showAll, &QPushButton::clicked, this, &CHistoryDlg::OnShowAll);
    connect(deleteSelected, &QPushButton::clicked, this, &CHistoryDlg::OnDeleteSelected);
    connect(exportList, &QPushButton::clicked, this, &CHistoryDlg::OnExport);
    connect(ranking, &QPushButton::clicked, this, &CHistoryDlg::OnRanking);
    connect(close, &QPushButton::clicked, this, &CHistoryDlg::OnClose);
    connect(m_list, &CSortListCtrl::ItemDoubleClicked, this, [this](int row, int) { OnDblClkList(row); });
}

void CHistoryDlg::FillShops()
{
    QStringList shops;
    for (const CAccount& account : CAccountTable().ReadAll())
        shops << account.userName;
    // A sorted drop-down list: nothing is chosen until the owner picks a shop.
    std::sort(shops.begin(), shops.end(),
              [](const QString& a, const QString& b) { return QString::localeAwareCompare(a, b) < 0; });
    m_shopCombo->addItems(shops);
    m_shopCombo->setCurrentIndex(-1);
}

void CHistoryDlg::FillList(const CVisitSearch& search, const QList<int>& positions)
{
    StopFilling();
    m_list->DeleteAllItems();
    auto stop = std::make_shared<std::atomic<int>>(0);
    m_fillStop = stop;
    // Until every row is in, a sort or an export would see part of the list.
    m_list->horizontalHeader()->setSectionsClickable(false);
    m_exportButton->setEnabled(false);
    ShowRowCount();

    QPointer<CHistoryDlg> self(this);
    // Blocks reach the window in the order read; one that arrives after a
    // refill belongs to the old list and is dropped.
    const auto deliver = [self, stop](std::function<void(CHistoryDlg*)> step) {
        QMetaObject::invokeMethod(
            qApp,
            [self, stop, step = std::move(step)] {
                if (self && self->m_fillStop == stop && stop->load() == 0)
                    step(self.data());
            },
            Qt::QueuedConnection);
    };
    m_fillJob = RunThenCallback(
        this,
        [search, positions, stop, deliver] {
            CVisitTable::ReadList(
                search, positions,
                [&deliver](std::shared_ptr<const CTextRows> block) {
                    deliver([block = std::move(block)](CHistoryDlg* dialog) {
                        dialog->m_list->AppendRows(block);
                        dialog->ShowRowCount();
                    });
                },
                *stop);
        },
        // After every block (queued before it); a query that cannot be opened
        // leaves the list empty, as cleared.
        [this, stop] {
            if (m_fillStop != stop)
                return;
            m_fillStop.reset();
            m_list->horizontalHeader()->setSectionsClickable(true);
            m_exportButton->setEnabled(true);
            ShowRowCount();
            Q_EMIT ListFilled();
        });
}

void CHistoryDlg::StopFilling()
{
    if (m_fillStop)
        m_fillStop->store(1);
    m_fillStop.reset();
    m_fillJob.Stop();
}

void CHistoryDlg::ShowRowCount()
{
    const int rows = m_list->GetItemCount();
    m_countLabel->setText(IsFilling() ? QStringLiteral("正在读取记录......%1").arg(rows)
                                      : QStringLiteral("共%1条记录").arg(rows));
}

void CHistoryDlg::UpdateValues()
{
    m_visitorText = m_visitorEdit->text();
    m_shopText = m_shopCombo->currentIndex() < 0 ? QString() : m_shopCombo->currentText();
}

bool CHistoryDlg::AskDeleteConfirmation()
{
    return ShowMessageBox(QString::fromUtf8(kDeleteQuestion), AppTitle(), EMsgIcon::Question, EMsgButtons::YesNo) ==
           kIdYes;
}

void CHistoryDlg::OnShowAll()
{
    FillList({EVisitSearch::All, QDate(), QString()}, kVisitPositions);
}

void CHistoryDlg::OnShowDay()
{
    const QDate day = m_dayEdit->date();
    UpdateValues();
    FillList({EVisitSearch::Day, day, QString()}, kVisitPositions);
}

void CHistoryDlg::OnShowVisitor()
{
    UpdateValues();
    FillList({EVisitSearch::Visitor, QDate(), m_visitorText}, kVisitPositions);
}

void CHistoryDlg::OnShowShop()
{
    UpdateValues();
    FillList({EVisitSearch::Shop, QDate(), m_shopText}, kVisitPositions);
}

void CHistoryDlg::OnDeleteSelected()
{
    if (!AskDeleteConfirmation())
        return;
    // Every selected row in one statement: one transaction however many there are.
    // A row without a numeric id (a ranking row) has nothing to delete.
    const CListRows rows = m_list->Rows();
    std::vector<qint64> ids;
    for (const int row : m_list->GetSelectedRows()) {
        if (const qint64 id = WholeNumber(rows.Utf8(row, 0)); id >= 0)
            ids.push_back(id);
    }
    if (ids.empty()) {
        OnShowAll();
        return;
    }
    DeleteThenShowAll([ids = std::move(ids)] { return CVisitTable::DeleteIds(ids); });
}

void CHistoryDlg::OnDeleteRange()
{
    if (!AskDeleteConfirmation())
        return;
    const QDate first = m_rangeStartEdit->date();
    const QDate last = m_rangeEndEdit->date();
    DeleteThenShowAll([first, last] { return CVisitTable::DeleteDays(first, last); });
}

void CHistoryDlg::DeleteThenShowAll(std::function<bool()> remove)
{
    // A million rows take seconds to delete: off the window's thread, with the
    // commands held until the list shows what is left.
    StopFilling();
    auto stop = std::make_shared<std::atomic<int>>(0);
    m_fillStop = stop;
    SetCommandsEnabled(false);
    m_countLabel->setText(QStringLiteral("正在删除记录......"));
    m_fillJob = RunThenCallback(this, std::move(remove), [this, stop](bool) {
        if (m_fillStop != stop)
            return;
        m_fillStop.reset();
        SetCommandsEnabled(true);
        OnShowAll();
    });
}

void CHistoryDlg::SetCommandsEnabled(bool enabled)
{
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->objectName() != QLatin1String("closeButton"))
            button->setEnabled(enabled);
    }
}

void CHistoryDlg::OnExport()
{
    ExportListToExcel(this, m_list, QStringLiteral("客户列表"));
}

void CHistoryDlg::OnRanking()
{
    // Each item address once, with its number of visits in the count column.
    FillList({EVisitSearch::Ranking, QDate(), QString()}, kRankingPositions);
}

void CHistoryDlg::OnDblClkList(int row)
{
    if (row < 0)
        return;
    int mark = m_list->GetSelectionMark();
    if (mark < 0)
        mark = row;
    const QString name = m_list->GetItemText(mark, 1);
    const QString imId = CVisitTable::ImUid(WholeNumber(m_list->GetItemText(mark, 0).toStdString()));
    if (g_cardOpener)
        g_cardOpener(this, name, imId);
    else
        OpenVisitorCardDialog(this, name, imId);
}

void CHistoryDlg::OnClose()
{
    accept();
}

void CHistoryDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter and Esc do nothing here; the page ends by "关闭" or its close box.
    if (!SwallowEnterAndEscape(event))
        QDialog::keyPressEvent(event);
}

void OpenHistoryDialog(QWidget* parent)
{
    CHistoryDlg dialog(parent);
    dialog.exec();
}
