#include "controls/SortListCtrl.h"

#include "controls/OutsideText.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QSettings>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr auto kSettingsGroup = "ColumnInfo";

// One collator for the process's locale; case matters, as in the platform's
// plain string comparison.
const QCollator& TextCollator()
{
    static const QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseSensitive);
        c.setNumericMode(false);
        return c;
    }();
    return collator;
}

bool AllDigits(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The value a C runtime's string-to-integer reading would give: leading
// blanks, an optional sign, then digits; saturates instead of overflowing.
qint64 LeadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max() / 10 - 10;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value < kMax)
            value = value * 10 + (text[i].unicode() - u'0');
    }
    return negative ? -value : value;
}

// Date key yyyymmdd from the fixed positions of dd/mm/yyyy (two-digit month
// and day fields, so one number orders as year, month, day).
qint64 DateKey(const QString& text)
{
    const qint64 year = LeadingNumber(text.mid(6, 4));
    const qint64 month = LeadingNumber(text.mid(3, 2));
    const qint64 day = LeadingNumber(text.mid(0, 2));
    return year * 10000 + month * 100 + day;
}

// What a sort needs of one cell, read once per sort instead of once per
// comparison; CompareKeys gives exactly CompareFunction's answer. Text goes
// through the same collator call (its sort keys do not always agree with it).
struct CSortKey
{
    bool digits = false;
    bool date = false;
    qint64 number = 0;
    qint64 dateKey = 0;
    const QString* text = nullptr;
};

CSortKey MakeKey(const QString& cell)
{
    CSortKey key;
    key.digits = AllDigits(cell);
    key.date = CSortListCtrl::IsDate(cell);
    key.number = LeadingNumber(cell);
    key.dateKey = DateKey(cell);
    key.text = &cell;
    return key;
}

int CompareKeys(const CSortKey& a, const CSortKey& b, bool ascending)
{
    const CSortKey& first = ascending ? a : b;
    const CSortKey& second = ascending ? b : a;
    if (a.digits)
        return first.number < second.number ? -1 : (first.number > second.number ? 1 : 0);
    if (a.date)
        return first.dateKey < second.dateKey ? -1 : (first.dateKey > second.dateKey ? 1 : 0);
    const int result = TextCollator().compare(*first.text, *second.text);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

// Stable bottom-up merge sort that stays within bounds whatever the
// comparison answers: the mixed rules (only the first value decides) do not
// make a strict weak order, which std::sort is allowed to run off the end with.
template <typename Less> void MergeSort(std::vector<int>& order, Less lessOrEqual)
{
    const size_t n = order.size();
    std::vector<int> buffer(n);
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n);
            const size_t hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                buffer[k++] = lessOrEqual(order[i], order[j]) ? order[i++] : order[j++];
            while (i < mid)
                buffer[k++] = order[i++];
            while (j < hi)
                buffer[k++] = order[j++];
        }
        order.swap(buffer);
    }
}

} // namespace

// Rows of texts plus an image index; the view reads it, the control writes it.
class CSortListModel : public QAbstractTableModel
{
public:
    struct CRow
    {
        QStringList texts;
        int image = -1;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size()))
            return {};
        const CRow& row = m_rows[index.row()];
        switch (role) {
        case Qt::DisplayRole:
            return index.column() < row.texts.size() ? row.texts[index.column()] : QString();
        case Qt::ToolTipRole:
            // Tooltips guess the format; cells hold visitor names and addresses.
            return index.column() < row.texts.size() ? TextAsTooltip(row.texts[index.column()]) : QString();
        case Qt::DecorationRole:
            if (index.column() == 0 && row.image >= 0 && row.image < m_images.size())
                return m_images[row.image];
            return {};
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

    void AddColumn(const QString& name)
    {
        const int column = static_cast<int>(m_headers.size());
        beginInsertColumns({}, column, column);
        m_headers.append(name);
        for (CRow& row : m_rows)
            row.texts.append(QString());
        endInsertColumns();
    }

    int AppendRow(CRow row)
    {
        while (row.texts.size() < m_headers.size())
            row.texts.append(QString());
        if (row.texts.size() > m_headers.size())
            row.texts.resize(m_headers.size());
        const int index = static_cast<int>(m_rows.size());
        beginInsertRows({}, index, index);
        m_rows.push_back(std::move(row));
        endInsertRows();
        return index;
    }

    void Clear()
    {
        beginResetModel();
        m_rows.clear();
        m_rows.shrink_to_fit();
        endResetModel();
    }

    const CRow* Row(int index) const
    {
        return index >= 0 && index < static_cast<int>(m_rows.size()) ? &m_rows[index] : nullptr;
    }

    bool SetText(int row, int column, const QString& text)
    {
        if (!Row(row) || column < 0 || column >= m_headers.size())
            return false;
        m_rows[row].texts[column] = text;
        const QModelIndex cell = index(row, column);
        Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
        return true;
    }

    void SetImage(int row, int image)
    {
        if (!Row(row) || m_rows[row].image == image)
            return;
        m_rows[row].image = image;
        const QModelIndex cell = index(row, 0);
        Q_EMIT dataChanged(cell, cell, {Qt::DecorationRole});
    }

    void SetImages(const QList<QIcon>& images)
    {
        m_images = images;
        if (!m_rows.empty())
            Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
    }

    void SortBy(int column, bool ascending)
    {
        if (column < 0 || column >= m_headers.size() || m_rows.size() < 2)
            return;
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

        std::vector<CSortKey> keys;
        keys.reserve(m_rows.size());
        for (const CRow& row : m_rows)
            keys.push_back(MakeKey(row.texts[column]));
        std::vector<int> order(m_rows.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<int>(i);
        MergeSort(order, [&](int a, int b) { return CompareKeys(keys[a], keys[b], ascending) <= 0; });

        std::vector<CRow> sorted;
        sorted.reserve(m_rows.size());
        std::vector<int> newPosition(m_rows.size());
        for (size_t i = 0; i < order.size(); ++i) {
            newPosition[order[i]] = static_cast<int>(i);
            sorted.push_back(std::move(m_rows[order[i]]));
        }
        m_rows.swap(sorted);

        // Selection and current row follow their rows.
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& old : before)
            after.append(index(newPosition[old.row()], old.column()));
        changePersistentIndexList(before, after);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

private:
    QStringList m_headers;
    std::vector<CRow> m_rows;
    QList<QIcon> m_images;
};

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
    setHighlightSections(false);
    setSortIndicatorShown(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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
    return m_model->AppendRow({texts, -1});
}

int CSortListCtrl::AddItemWithImage(int image, const QStringList& texts)
{
    return m_model->AppendRow({texts, image});
}

void CSortListCtrl::SetItemImage(int row, int image)
{
    m_model->SetImage(row, image);
}

int CSortListCtrl::GetItemImage(int row) const
{
    const auto* r = m_model->Row(row);
    return r ? r->image : -1;
}

void CSortListCtrl::SetImageList(const QList<QIcon>& images)
{
    m_model->SetImages(images);
}

bool CSortListCtrl::DeleteAllItems()
{
    m_model->Clear();
    return true;
}

int CSortListCtrl::GetItemCount() const
{
    return m_model->rowCount();
}

QString CSortListCtrl::GetItemText(int row, int col) const
{
    const auto* r = m_model->Row(row);
    if (!r || col < 0 || col >= r->texts.size())
        return {};
    return r->texts[col];
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
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
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
    m_model->SortBy(m_sortColumn, m_ascending);
}

int CSortListCtrl::CompareFunction(const QString& a, const QString& b, bool ascending)
{
    const QString& first = ascending ? a : b;
    const QString& second = ascending ? b : a;
    if (AllDigits(a)) {
        const qint64 x = LeadingNumber(first), y = LeadingNumber(second);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (IsDate(a))
        return DateCompare(first, second);
    const int result = TextCollator().compare(first, second);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

bool CSortListCtrl::IsDate(const QString& text)
{
    if (text.size() != 10)
        return false;
    for (int i : {0, 1, 3, 4, 6, 7, 8, 9}) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
    }
    return text[2] == u'/' && text[5] == u'/';
}

int CSortListCtrl::DateCompare(const QString& a, const QString& b)
{
    const qint64 x = DateKey(a), y = DateKey(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}
