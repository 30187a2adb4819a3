#include "controls/ui/SortListCtrl.h"

#include "controls/ui/OutsideText.h"
#include "controls/SortOrder.h"
#include "platform/OneShot.h"

#include <QAbstractTableModel>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QSettings>

#include <algorithm>
#include <vector>

#include <malloc.h>

namespace {

constexpr auto kSettingsGroup = "ColumnInfo";
// Up to this many rows a header click sorts at once; longer lists sort on a
// worker while the window goes on.
constexpr qsizetype kInlineSortRows = 20000;

// After a long list let go of its memory: glibc keeps much of what is freed in
// worker threads' arenas otherwise, and the program runs for months.
void ReleaseFreedMemory(qsizetype rows)
{
    if (rows > kInlineSortRows)
        malloc_trim(0);
}

} // namespace

// The view's model: rows kept compactly (CListRows) plus an image index per
// stored row. The control writes it, the view reads it; window's thread only.
class CSortListModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.RowCount());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_headers.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_rows.RowCount())
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return m_rows.Text(index.row(), index.column());
        case Qt::ToolTipRole:
            // Tooltips guess the format; cells hold visitor names and addresses.
            return TextAsTooltip(m_rows.Text(index.row(), index.column()));
        case Qt::DecorationRole: {
            const int image = Image(index.row());
            if (index.column() == 0 && image >= 0 && image < m_icons.size())
                return m_icons[image];
            return {};
        }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && section >= 0 && section < m_headers.size()) {
            if (role == Qt::DisplayRole)
                return m_headers[section];
            if (role == Qt::TextAlignmentRole)
                return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        }
        return QAbstractTableModel::headerData(section, orientation, role);
    }

    const QStringList& Headers() const { return m_headers; }
    const CListRows& Rows() const { return m_rows; }

    // Columns come before rows (the headings are set once, on an empty list).
    void AddColumn(const QString& name)
    {
        const int column = int(m_headers.size());
        beginInsertColumns({}, column, column);
        m_headers.append(name);
        if (m_rows.StoredCount() > 0)
            Reset({});
        endInsertColumns();
    }

    int AppendRow(const QStringList& texts, int image)
    {
        if (!m_tail) {
            m_tail = std::make_shared<CTextRows>(int(m_headers.size()));
            m_tailIndex = m_rows.Blocks().size();
        }
        const int index = int(m_rows.RowCount());
        beginInsertRows({}, index, index);
        m_tail->AppendRow(texts);
        // The tail block grows in place; the list takes one row of it at a time.
        if (m_tail->RowCount() == 1)
            m_rows.Append(m_tail);
        else
            m_rows.GrowLast();
        if (image >= 0 || !m_images.empty())
            SetStoredImage(m_rows.StoredRow(index), image);
        endInsertRows();
        ++m_changes;
        return index;
    }

    void AppendBlock(CListRows::Block block)
    {
        if (!block || block->RowCount() == 0)
            return;
        Seal();
        const int first = int(m_rows.RowCount());
        beginInsertRows({}, first, first + int(block->RowCount()) - 1);
        m_rows.Append(std::move(block));
        endInsertRows();
        ++m_changes;
    }

    void Clear()
    {
        const qsizetype rows = m_rows.StoredCount();
        beginResetModel();
        Reset({});
        endResetModel();
        ReleaseFreedMemory(rows);
    }

    // For the view's end: no view is left to tell.
    void Drop()
    {
        const qsizetype rows = m_rows.StoredCount();
        Reset({});
        ReleaseFreedMemory(rows);
    }

    QString Text(int row, int column) const
    {
        if (row < 0 || row >= m_rows.RowCount() || column < 0 || column >= m_headers.size())
            return {};
        return m_rows.Text(row, column);
    }

    bool SetText(int row, int column, const QString& text)
    {
        if (row < 0 || row >= m_rows.RowCount() || column < 0 || column >= m_headers.size())
            return false;
        const uint32_t stored = m_rows.StoredRow(row);
        const auto [block, local] = m_rows.Locate(stored);
        // A block a worker may be reading is copied before it changes.
        size_t blockIndex = 0;
        while (m_rows.Blocks()[blockIndex].get() != block)
            ++blockIndex;
        std::shared_ptr<CTextRows> writable = block->Clone();
        writable->SetText(local, column, text);
        if (blockIndex == m_tailIndex && m_tail)
            m_tail = writable;
        m_rows.ReplaceBlock(blockIndex, writable);
        ++m_changes;
        const QModelIndex cell = index(row, column);
        Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
        return true;
    }

    int Image(int row) const
    {
        if (row < 0 || row >= m_rows.RowCount())
            return -1;
        const uint32_t stored = m_rows.StoredRow(row);
        return stored < m_images.size() ? m_images[stored] : -1;
    }

    void SetImage(int row, int image)
    {
        if (row < 0 || row >= m_rows.RowCount() || Image(row) == image)
            return;
        SetStoredImage(m_rows.StoredRow(row), image);
        const QModelIndex cell = index(row, 0);
        Q_EMIT dataChanged(cell, cell, {Qt::DecorationRole});
    }

    void SetImages(const QList<QIcon>& images)
    {
        m_icons = images;
        if (m_rows.RowCount() > 0)
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
    }

    // A copy for a worker; rows added afterwards go to a new block.
    CListRows Snapshot()
    {
        Seal();
        return m_rows;
    }
    // Counts every change of rows, so a worker's result for an older list is dropped.
    quint64 Changes() const { return m_changes; }

    void ApplyOrder(std::vector<uint32_t> order)
    {
        if (order.size() != size_t(m_rows.RowCount()))
            return;
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        std::vector<int> newPosition;
        if (!before.isEmpty()) {
            newPosition.resize(order.size());
            std::vector<int> placeOfStored(size_t(m_rows.StoredCount()));
            for (size_t i = 0; i < order.size(); ++i)
                placeOfStored[order[i]] = int(i);
            for (size_t i = 0; i < order.size(); ++i)
                newPosition[i] = placeOfStored[m_rows.StoredRow(qsizetype(i))];
        }
        m_rows.SetOrder(std::move(order));
        // Selection and current row follow their rows.
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& old : before)
            after.append(index(newPosition[size_t(old.row())], old.column()));
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

private:
    void Seal()
    {
        m_tail.reset();
        m_tailIndex = size_t(-1);
    }

    void Reset(CListRows rows)
    {
        m_rows = std::move(rows);
        std::vector<int>().swap(m_images);
        Seal();
        ++m_changes;
    }

    void SetStoredImage(uint32_t stored, int image)
    {
        if (m_images.size() < size_t(m_rows.StoredCount()))
            m_images.resize(size_t(m_rows.StoredCount()), -1);
        m_images[stored] = image;
    }

    QStringList m_headers;
    CListRows m_rows;
    std::vector<int> m_images; // per stored row; empty while no row has one
    QList<QIcon> m_icons;
    std::shared_ptr<CTextRows> m_tail; // where AddItem appends
    size_t m_tailIndex = size_t(-1);
    quint64 m_changes = 0;
};

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
    setHighlightSections(false);
    setSortIndicatorShown(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setAccessibleName(QStringLiteral("列标题"));
    setAccessibleDescription(QStringLiteral("点击列标题按这一列排序,再点击一次反向排序"));
}

void CSortHeaderCtrl::SetSortArrow(int column, bool ascending)
{
    // One indicator per header: setting it on column clears the previous one.
    setSortIndicatorShown(true);
    setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    m_sortColumn = column;
    m_ascending = ascending;
}

CSortListCtrl::CSortListCtrl(QWidget* parent)
    : QTableView(parent), m_model(new CSortListModel(this)), m_header(new CSortHeaderCtrl(this))
{
    setHorizontalHeader(m_header);
    setModel(m_model);
    setSortingEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setShowGrid(false);
    setIconSize(QSize(16, 16));
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height() + 4, 18));
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);

    connect(m_header, &QHeaderView::sectionClicked, this, &CSortListCtrl::OnColumnClick);
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            Q_EMIT ItemClicked(index.row(), index.column());
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            Q_EMIT ItemDoubleClicked(index.row(), index.column());
    });
}

CSortListCtrl::~CSortListCtrl()
{
    StopSort();
    m_model->Drop();
    if (m_keepsColumnInfo)
        SaveColumnInfo();
}

bool CSortListCtrl::SetHeadings(const QString& headings)
{
    qsizetype pos = 0;
    while (pos < headings.size()) {
        const qsizetype comma = headings.indexOf(u',', pos);
        if (comma < 0)
            break;
        const QString name = headings.mid(pos, comma - pos);
        qsizetype semicolon = headings.indexOf(u';', comma + 1);
        if (semicolon < 0)
            semicolon = headings.size();
        const int width = static_cast<int>(LeadingNumber(headings.mid(comma + 1, semicolon - comma - 1)));
        const int column = m_model->columnCount();
        m_model->AddColumn(name);
        if (m_model->columnCount() != column + 1)
            return false;
        m_header->resizeSection(column, std::max(width, 0));
        pos = semicolon + 1;
    }
    return true;
}

int CSortListCtrl::GetColumnCount() const
{
    return m_model->columnCount();
}

int CSortListCtrl::AddItem(const QStringList& texts)
{
    return m_model->AppendRow(texts, -1);
}

int CSortListCtrl::AddItemWithImage(int image, const QStringList& texts)
{
    return m_model->AppendRow(texts, image);
}

void CSortListCtrl::SetItemImage(int row, int image)
{
    m_model->SetImage(row, image);
}

int CSortListCtrl::GetItemImage(int row) const
{
    return m_model->Image(row);
}

void CSortListCtrl::SetImageList(const QList<QIcon>& images)
{
    m_model->SetImages(images);
}

bool CSortListCtrl::DeleteAllItems()
{
    StopSort();
    m_model->Clear();
    return true;
}

int CSortListCtrl::GetItemCount() const
{
    return m_model->rowCount();
}

QString CSortListCtrl::GetItemText(int row, int col) const
{
    return m_model->Text(row, col);
}

bool CSortListCtrl::SetItemText(int row, int col, const QString& text)
{
    return m_model->SetText(row, col, text);
}

int CSortListCtrl::GetSelectionMark() const
{
    const QModelIndex current = selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void CSortListCtrl::SetSelectionMark(int row)
{
    if (row < 0 || row >= GetItemCount()) {
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
        return;
    }
    selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
}

QList<int> CSortListCtrl::GetSelectedRows() const
{
    // Read from the ranges: a select-all of a million rows is one range.
    QList<int> rows;
    const int lastColumn = GetColumnCount() - 1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (range.left() > 0 || range.right() < lastColumn)
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

static QString ColumnInfoKey(const QObject* list)
{
    const QString name = list->objectName().isEmpty() ? QStringLiteral("SortListCtrl") : list->objectName();
    return QStringLiteral("%1/%2/widths").arg(QLatin1String(kSettingsGroup), name);
}

void CSortListCtrl::LoadColumnInfo()
{
    m_keepsColumnInfo = true;
    QSettings settings;
    const QStringList widths = settings.value(ColumnInfoKey(this)).toStringList();
    if (widths.size() != GetColumnCount())
        return;
    for (int column = 0; column < widths.size(); ++column) {
        bool ok = false;
        const int width = widths[column].toInt(&ok);
        if (ok && width >= 0)
            m_header->resizeSection(column, width);
    }
}

void CSortListCtrl::SaveColumnInfo()
{
    if (GetColumnCount() == 0)
        return;
    QStringList widths;
    for (int column = 0; column < GetColumnCount(); ++column)
        widths.append(QString::number(m_header->sectionSize(column)));
    QSettings settings;
    settings.setValue(ColumnInfoKey(this), widths);
}

void CSortListCtrl::OnColumnClick(int column)
{
    if (column < 0 || column >= GetColumnCount())
        return;
    m_ascending = column != m_sortColumn ? true : !m_ascending;
    m_sortColumn = column;
    m_header->SetSortArrow(column, m_ascending);
    SortRows();
}

void CSortListCtrl::SortRows()
{
    StopSort();
    const int column = m_sortColumn;
    const bool ascending = m_ascending;
    if (column < 0 || column >= GetColumnCount() || GetItemCount() < 2)
        return;
    CListRows rows = m_model->Snapshot();
    const auto cell = [column](const CListRows& r) {
        return [&r, column](uint32_t stored) { return r.StoredUtf8(stored, column); };
    };
    if (rows.RowCount() <= kInlineSortRows) {
        m_model->ApplyOrder(SortedRows(rows.Order(), cell(rows), ascending));
        Q_EMIT RowsSorted();
        return;
    }
    auto stop = std::make_shared<std::atomic<int>>(0);
    m_sortStop = stop;
    const quint64 changes = m_model->Changes();
    m_sortJob = RunThenCallback(
        this,
        [stop, ascending, rows = std::move(rows), cell]() mutable {
            // The rows are let go here, not whenever the job is discarded: a list
            // cleared meanwhile is freed (and its memory given back) by the window.
            const CListRows sorting = std::move(rows);
            return SortedRows(sorting.Order(), cell(sorting), ascending, stop.get());
        },
        [this, stop, changes](std::vector<uint32_t> order) {
            // A list refilled or sorted again meanwhile keeps its own order.
            if (stop->load() != 0 || m_sortStop != stop || m_model->Changes() != changes || order.empty())
                return;
            m_sortStop.reset();
            m_model->ApplyOrder(std::move(order));
            Q_EMIT RowsSorted();
        });
}

void CSortListCtrl::StopSort()
{
    if (m_sortStop)
        m_sortStop->store(1);
    m_sortStop.reset();
    m_sortJob.Stop();
}

bool CSortListCtrl::IsSorting() const
{
    return m_sortStop != nullptr;
}

void CSortListCtrl::AppendRows(std::shared_ptr<const CTextRows> block)
{
    m_model->AppendBlock(std::move(block));
}

CListRows CSortListCtrl::Rows() const
{
    return m_model->Snapshot();
}

QStringList CSortListCtrl::Headings() const
{
    return m_model->Headers();
}

int CSortListCtrl::CompareFunction(const QString& a, const QString& b, bool ascending)
{
    return CompareCells(a, b, ascending);
}

bool CSortListCtrl::IsDate(const QString& text)
{
    return IsDateText(text);
}

int CSortListCtrl::DateCompare(const QString& a, const QString& b)
{
    return CompareDateTexts(a, b);
}
