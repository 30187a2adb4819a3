#pragma once
// "历史记录管理": browse the visits by day, visitor or shop,
// delete single rows or a date range, rank the item pages, open a visitor's
// card and export the list. A modal dialog created for each opening and
// discarded when it closes; window's thread only.
#include "platform/OneShot.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class CSortListCtrl;
struct CVisitSearch;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

class CHistoryDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CHistoryDlg(QWidget* parent = nullptr);
    ~CHistoryDlg() override;

    CSortListCtrl* List() const { return m_list; }

    // The page's commands, one per button (and the list's double-click).
    void OnShowAll();
    void OnShowDay();
    void OnShowVisitor();
    void OnShowShop();
    void OnDeleteSelected();
    void OnDeleteRange();
    void OnExport();
    void OnRanking();
    void OnDblClkList(int row);
    void OnClose();

    // The list is being read from the store, or rows deleted (on a worker); ListFilled follows.
    bool IsFilling() const { return m_fillStop != nullptr; }

Q_SIGNALS:
    void ListFilled();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void FillShops();
    // Clears the list and reads the query into it off the window's thread;
    // positions name the query column of each list column (-1: empty).
    void FillList(const CVisitSearch& search, const QList<int>& positions);
    void StopFilling();
    void ShowRowCount();
    // Copies the visitor and shop controls into the page's values.
    void UpdateValues();
    bool AskDeleteConfirmation();
    // Runs the delete on a worker, then shows all rows.
    void DeleteThenShowAll(std::function<bool()> remove);
    void SetCommandsEnabled(bool enabled);

    QDateEdit* m_dayEdit = nullptr;
    QLineEdit* m_visitorEdit = nullptr;
    QComboBox* m_shopCombo = nullptr;
    QDateEdit* m_rangeStartEdit = nullptr;
    QDateEdit* m_rangeEndEdit = nullptr;
    CSortListCtrl* m_list = nullptr;
    QLabel* m_countLabel = nullptr;
    QPushButton* m_exportButton = nullptr;
    std::shared_ptr<std::atomic<int>> m_fillStop; // the reading under way, if any
    COneShot m_fillJob;

    QString m_visitorText;
    QString m_shopText;
};

// The main window's history command: runs the dialog modally.
void OpenHistoryDialog(QWidget* parent);

// Opens the visitor card (modally) for a name and its IM ID. Replaceable so
// tests can see what a double-click opens without a window; an empty
// function selects the default, CShowOneClientDlg.
using VisitorCardOpener = std::function<void(QWidget* parent, const QString& visitorName, const QString& visitorImId)>;
VisitorCardOpener SetVisitorCardOpener(VisitorCardOpener opener);

// The column texts of the list.
inline constexpr const char* kHistoryHeadings =
    "编号,50;访客,100;IP,70;店铺,130;最后访问时间,120;次数,40;所属地区,100;商品地址,100";
