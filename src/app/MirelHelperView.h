#pragma once
// The main window's client area: five pages created once, in order (visitor
// list, accounts and settings, help, featured shops, statistics), all covering the view,
// exactly one of them shown. Window's thread only.
#include <QWidget>

#include <array>

class CMirelHelperView : public QWidget
{
    Q_OBJECT
public:
    enum EPage
    {
        kUserListPage = 0,
        kConfigPage = 1,
        kHelpPage = 2,
        kAdPage = 3,
        kStatisticsPage = 4,
        kPageCount = 5
    };

    explicit CMirelHelperView(QWidget* parent = nullptr);
    ~CMirelHelperView() override;

    // Creates the five pages (each initialises itself as it is created) and shows the visitor list.
    void OnInitialUpdate();
    void ShowPage(int page);
    int CurrentPage() const { return m_current; }
    QWidget* Page(int page) const;

    void OnRefreshList();
    void OnHistory();

Q_SIGNALS:
    void PageChanged(int page);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::array<QWidget*, kPageCount> m_pages{};
    int m_current = -1;
};
