#include "monitor/ui/UserListDlg.h"
#include "controls/ui/DialogKeys.h"
#include "platform/Workers.h"

#include "controls/ui/Resources.h"
#include "controls/ui/SortListCtrl.h"
#include "greet/ImClient.h"
#include "history/HistoryUpkeep.h"
#include "monitor/SessionMan.h"
#include "monitor/ui/Explorer_showuserinfo.h"
#include "monitor/ui/ProfileCard.h"
#include "net/WebAddress.h"
#include "platform/DataDirectory.h"
#include "platform/Endpoints.h"
#include "platform/Launcher.h"
#include "platform/MessageBox.h"
#include "platform/OneShot.h"
#include "tables/VisitTable.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QThread>

#include <mutex>

CUserListDlg* g_pUserListDlg = nullptr;

namespace {

const QString kChatFailedText = QStringLiteral("调用出错,请确认已经安装了IE!");

// The page's own layout in dialog units of the classic 9-point font (x 1.75, y 2).
QRect DialogRect(int x, int y, int width, int height)
{
    return QRect(x * 7 / 4, y * 2, width * 7 / 4, height * 2);
}

} // namespace

CUserListDlg::CUserListDlg(QWidget* parent) : QWidget(parent), m_ipLocator(IpdbDataFilePath(), IpDataFilePath())
{
    setObjectName(QStringLiteral("CUserListDlg"));
    InitMirelResources();
    g_pUserListDlg = this;

    // Pane and button first: the list, covering the page, lies above them.
    m_browser = new CExplorer_showuserinfo(this);
    m_browser->setObjectName(QStringLiteral("visitorCardBrowser"));
    m_browser->setAccessibleName(QStringLiteral("客户名片"));
    m_browser->setGeometry(DialogRect(249, 7, 60, 139));
    m_sendMessageButton = new QPushButton(QStringLiteral("发送消息"), this);
    m_sendMessageButton->setObjectName(QStringLiteral("sendMessageButton"));
    m_sendMessageButton->setGeometry(DialogRect(251, 154, 55, 19));
    m_sendMessageButton->setAutoDefault(false);
    m_list = new CSortListCtrl(this);
    m_list->setObjectName(QStringLiteral("visitorList"));
    m_list->setAccessibleName(QStringLiteral("最近访客"));
    m_list->setAccessibleDescription(
        QStringLiteral("最近30位访客,单击显示客户名片,双击打开聊天或商品页,右键可删除该客户的全部记录"));
    m_list->setGeometry(DialogRect(7, 7, 239, 166));
    m_list->raise();

    m_list->SetImageList(
        {QIcon(QStringLiteral(":/icons/visitor-online.png")), QIcon(QStringLiteral(":/icons/visitor-offline.png"))});
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->SetHeadings(QString::fromUtf8(kUserListHeadings));
    m_list->LoadColumnInfo();

    connect(m_list, &CSortListCtrl::ItemClicked, this, &CUserListDlg::OnClickList);
    connect(m_list, &CSortListCtrl::ItemDoubleClicked, this, &CUserListDlg::OnDblClkList);
    connect(m_sendMessageButton, &QPushButton::clicked, this, &CUserListDlg::ShowProfileCard);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &CUserListDlg::ShowListMenu);

    m_browser->Navigate(QStringLiteral("about:blank"));
    FillVisitorList();
    StartSessionManager();
    SetVisitorListBridge(this);
}

CUserListDlg::~CUserListDlg()
{
    // Workers must not reach the page any more before it goes.
    if (VisitorListBridge() == this)
        SetVisitorListBridge(nullptr);
    if (g_pUserListDlg == this)
        g_pUserListDlg = nullptr;
    if (m_sessionThread)
        m_sessionThread->m_stop.store(1);
}

void CUserListDlg::StartSessionManager()
{
    auto* thread = new CSessionManageThread;
    theSessionMan.SetRetention(CSessionMan::kPageRetentionSeconds);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    m_sessionThread = thread;
    StartWorker(thread, &thread->m_stop);
}

void CUserListDlg::RequestRefill()
{
    RunOnThreadAndWait(this, [this] { FillVisitorList(); });
}

void CUserListDlg::RequestMarkOnline()
{
    RunOnThreadAndWait(this, [this] { MarkOnlineVisitors(); });
}

bool CUserListDlg::IsOnline(const QString& name)
{
    std::lock_guard lock(m_presence.lock);
    return m_presence.onlineNames.contains(name, Qt::CaseSensitive);
}

void CUserListDlg::FillVisitorList()
{
    m_list->DeleteAllItems();
    QStringList names;
    QStringList imIds;
    QList<CVisitRow> visits;
    if (CVisitTable::Latest(kMaxRows, visits) && !visits.isEmpty()) {
        m_list->setUpdatesEnabled(false);
        for (const CVisitRow& visit : visits) {
            m_list->AddItemWithImage(
                IsOnline(visit.guestName) ? kOnlineImage : kOfflineImage,
                {visit.guestName, visit.ip, visit.shopName, visit.lastTime, visit.count, visit.city, visit.shopUrl});
            names << visit.guestName;
            imIds << visit.imUid;
        }
        m_list->setUpdatesEnabled(true);
    }
    if (m_list->GetItemCount() > 0)
        m_list->SetSelectionMark(0);

    // A visitor listed for several shops is asked about once, with the IM ID of its first row.
    {
        std::lock_guard lock(m_presence.lock);
        m_presence.names.clear();
        m_presence.imIds.clear();
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (m_presence.names.contains(names.at(i), Qt::CaseSensitive))
                continue;
            m_presence.names.append(names.at(i));
            m_presence.imIds.append(imIds.at(i));
        }
    }
    Q_EMIT VisitorListFilled();
}

void CUserListDlg::MarkOnlineVisitors()
{
    for (int row = 0; row < m_list->GetItemCount(); ++row)
        m_list->SetItemImage(row, IsOnline(m_list->GetItemText(row, kVisitorColumn)) ? kOnlineImage : kOfflineImage);
    Q_EMIT OnlineMarked();
}

void CUserListDlg::OnClickList(int row, int /*column*/)
{
    const int mark = m_list->GetSelectionMark();
    if (row >= 0 && mark != m_lastSelection)
        m_lastSelection = mark;
}

void CUserListDlg::OnDblClkList(int row, int column)
{
    if (row < 0 || row >= m_list->GetItemCount())
        return;
    // The press of a double-click puts the mark on the row; the row named stands in when it did not.
    int mark = m_list->GetSelectionMark();
    if (mark < 0)
        mark = row;
    if (column == kItemAddressColumn)
        OpenItemPage(m_list->GetItemText(mark, kItemAddressColumn));
    else
        OpenVisitorChat(m_list->GetItemText(mark, kShopColumn), m_list->GetItemText(mark, kVisitorColumn));
}

void CUserListDlg::OpenVisitorChat(const QString& account, const QString& visitor)
{
    CLaunchRequest request;
    request.program = QStringLiteral("xdg-open");
    request.arguments = QStringList{ChatLink(account, visitor)};
    request.hidden = true;
    request.waitMs = kChatWaitMs;
    // The handler may run for up to 10 s; the window does not wait for it.
    RunThenCallback(
        this, [request] { return Launch(request); }, [this](bool started) { OnChatLaunchFinished(started); });
}

void CUserListDlg::OnChatLaunchFinished(bool started)
{
    if (!started)
        ShowMessageBox(kChatFailedText, AppTitle(), EMsgIcon::Exclamation, EMsgButtons::Ok);
    Q_EMIT ChatLaunchFinished(started);
}

void CUserListDlg::OpenItemPage(const QString& address)
{
    if (!IsWebAddress(address)) {
        qWarning("visitor list: item address not opened: not http/https");
        return;
    }
    // A failed start is not reported.
    OpenWithDesktop(address, false, 0);
}

QString CUserListDlg::PresenceImId(const QString& name)
{
    std::lock_guard lock(m_presence.lock);
    const qsizetype index = m_presence.names.indexOf(name);
    return index >= 0 ? m_presence.imIds.value(index) : QString();
}

void CUserListDlg::ShowProfileCard()
{
    const int mark = m_list->GetSelectionMark();
    const QString name = mark >= 0 ? m_list->GetItemText(mark, kVisitorColumn) : QString();
    m_browser->Navigate(QStringLiteral("about:blank"));
    m_browser->LoadHtml(ProfileCardHtml(SampleProfileCard(name, PresenceImId(name)), Endpoints()));
}

void CUserListDlg::ShowListMenu(const QPoint& position)
{
    const int row = m_list->rowAt(position.y());
    // The name now: a poll may refill the list while the menu is open.
    const QString visitor = row < 0 ? QString() : m_list->GetItemText(row, kVisitorColumn);
    if (visitor.isEmpty())
        return;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("visitorListMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* remove = menu->addAction(kDeleteVisitorCommand);
    remove->setObjectName(QStringLiteral("deleteVisitorAction"));
    connect(remove, &QAction::triggered, this, [this, visitor] { OnDeleteVisitorEverywhere(visitor); });
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

QString CUserListDlg::DeleteVisitorQuestion(const QString& visitor)
{
    return QStringLiteral("将删除客户\"%1\"在所有店铺的全部访问记录、打招呼记录和待发的招呼,删除的信息将无法恢复,"
                          "您确定删除吗?")
        .arg(visitor);
}

bool CUserListDlg::OnDeleteVisitorEverywhere(const QString& visitor)
{
    if (visitor.isEmpty())
        return false;
    if (ShowMessageBox(DeleteVisitorQuestion(visitor), AppTitle(), EMsgIcon::Question, EMsgButtons::YesNo) != kIdYes)
        return false;
    const CUpkeepCounts counts = DeleteVisitorEverywhere(visitor);
    FillVisitorList();
    if (!counts.ok)
        ShowMessageBox(kDeleteVisitorFailedText, AppTitle(), EMsgIcon::Exclamation);
    return counts.ok;
}

void CUserListDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter and Esc do not close the page.
    if (!SwallowEnterAndEscape(event))
        QWidget::keyPressEvent(event);
}

void CUserListDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void CUserListDlg::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_list->setGeometry(rect());
}

void CUserListDlg::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}
