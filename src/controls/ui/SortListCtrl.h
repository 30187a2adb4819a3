#pragma once
// Report list that sorts by a clicked column: numbers as numbers, dd/mm/yyyy
// as dates, everything else as locale-aware text. Rows live compactly in a
// model of our own (CListRows plus one image index per row); a long list is
// filled block by block from a worker and sorted on a worker, so a million
// rows neither cost a gigabyte nor freeze the window.
// Window's thread only.
#include "controls/TextRows.h"
#include "platform/OneShot.h"

#include <QHeaderView>
#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTableView>

#include <atomic>
#include <memory>

class CSortListModel;

class CSortHeaderCtrl : public QHeaderView
{
    Q_OBJECT
public:
    explicit CSortHeaderCtrl(QWidget* parent = nullptr);

    // Shows the arrow on column; the previously sorted column loses its arrow.
    void SetSortArrow(int column, bool ascending);
    int SortColumn() const { return m_sortColumn; }
    bool IsAscending() const { return m_ascending; }

private:
    int m_sortColumn = -1;
    bool m_ascending = true;
};

class CSortListCtrl : public QTableView
{
    Q_OBJECT
public:
    explicit CSortListCtrl(QWidget* parent = nullptr);
    ~CSortListCtrl() override;

    // "name,width;name,width;..." appended to the existing columns. A text
    // without "," adds nothing and succeeds.
    bool SetHeadings(const QString& headings);
    int GetColumnCount() const;

    // Appends one row (texts beyond the column count are ignored, missing ones
    // are empty); returns its index. Rows are not placed in sort order until
    // the next header click.
    int AddItem(const QStringList& texts);
    int AddItemWithImage(int image, const QStringList& texts);
    // Image index into SetImageList's list, shown in the first column; -1 = none.
    void SetItemImage(int row, int image);
    int GetItemImage(int row) const;
    void SetImageList(const QList<QIcon>& images);
    // Keeps the columns and the sort state; a sort under way is dropped.
    bool DeleteAllItems();
    // Appends a block of rows read elsewhere (same columns), as they come.
    void AppendRows(std::shared_ptr<const CTextRows> block);
    // The rows as shown, readable from any thread.
    CListRows Rows() const;
    QStringList Headings() const;
    // A sort of a long list runs on a worker until RowsSorted.
    bool IsSorting() const;
    int GetItemCount() const;
    QString GetItemText(int row, int col) const;
    bool SetItemText(int row, int col, const QString& text);

    // The "current" row: the last row clicked or set, -1 when none.
    int GetSelectionMark() const;
    void SetSelectionMark(int row);
    // Selected rows in ascending order.
    QList<int> GetSelectedRows() const;

    // Column widths kept per user (QSettings, organisation "MirelHelp - ZorIrevov"),
    // under the list's objectName(). A list that loaded them saves them again
    // when it is destroyed.
    void LoadColumnInfo();
    void SaveColumnInfo();

    // What a header click does: ascending on a new column, toggled on the same one.
    void OnColumnClick(int column);
    int SortColumn() const { return m_sortColumn; }
    bool IsAscending() const { return m_ascending; }
    CSortHeaderCtrl* SortHeader() const { return m_header; }

    // <0, 0, >0 for a before b in the given direction. Only a decides whether
    // the comparison is numeric, by date or textual.
    static int CompareFunction(const QString& a, const QString& b, bool ascending);
    static bool IsDate(const QString& text);
    static int DateCompare(const QString& a, const QString& b);

Q_SIGNALS:
    // Emitted only when the click hits a row.
    void ItemClicked(int row, int column);
    void ItemDoubleClicked(int row, int column);
    // The rows are in the order of the last header click.
    void RowsSorted();

private:
    void SortRows();
    void StopSort();

    CSortListModel* m_model;
    CSortHeaderCtrl* m_header;
    int m_sortColumn = -1;
    bool m_ascending = true;
    bool m_keepsColumnInfo = false;
    std::shared_ptr<std::atomic<int>> m_sortStop; // the sort under way, if any
    COneShot m_sortJob;
};
