#include "app/MirelHelperView.h"

#include "app/PageFactory.h"
#include "app/WebPageDlg.h"

CMirelHelperView::CMirelHelperView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CMirelHelperView"));
    setAccessibleName(QStringLiteral("页面"));
}

CMirelHelperView::~CMirelHelperView()
{
    // Pages go in reverse order of creation; the settings page stops its workers then.
    for (auto it = m_pages.rbegin(); it != m_pages.rend(); ++it) {
        delete *it;
        *it = nullptr;
    }
}

void CMirelHelperView::OnInitialUpdate()
{
    if (m_pages[kUserListPage])
        return;
    CPageFactory& factory = PageFactory();
    m_pages[kUserListPage] = factory.createUserListPage(this);
    m_pages[kConfigPage] = factory.createConfigPage(this);
    m_pages[kHelpPage] = new CHtmlHelpDlg(this);
    m_pages[kAdPage] = new CMirelAdDlg(this);
    m_pages[kStatisticsPage] = factory.createStatisticsPage(this);
    // What a screen reader says as a page comes up: the command that shows it.
    const char* const names[kPageCount] = {"访客列表", "信息配置", "帮助信息", "精品网店", "访客统计"};
    for (int i = 0; i < kPageCount; ++i) {
        if (!m_pages[i])
            continue;
        m_pages[i]->setGeometry(rect());
        if (m_pages[i]->accessibleName().isEmpty())
            m_pages[i]->setAccessibleName(QString::fromUtf8(names[i]));
    }
    ShowPage(kUserListPage);
}

QWidget* CMirelHelperView::Page(int page) const
{
    return page >= 0 && page < kPageCount ? m_pages[page] : nullptr;
}

void CMirelHelperView::ShowPage(int page)
{
    if (!Page(page))
        return;
    // Hide first, so that exactly one page is ever visible.
    for (int i = 0; i < kPageCount; ++i) {
        if (i != page && m_pages[i])
            m_pages[i]->hide();
    }
    m_pages[page]->show();
    if (m_current != page) {
        m_current = page;
        Q_EMIT PageChanged(page);
    }
}

void CMirelHelperView::OnRefreshList()
{
    if (QWidget* page = m_pages[kUserListPage])
        PageFactory().refreshUserListPage(page);
}

void CMirelHelperView::OnHistory()
{
    PageFactory().openHistoryDialog(window());
}

void CMirelHelperView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    for (QWidget* page : m_pages) {
        if (page)
            page->setGeometry(rect());
    }
}
