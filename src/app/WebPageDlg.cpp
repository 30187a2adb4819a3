#include "app/WebPageDlg.h"

#include "net/HttpText.h"
#include "platform/Endpoints.h"
#include "platform/Launcher.h"
#include "platform/OneShot.h"

#include <QTextBrowser>
#include <QVBoxLayout>

CWebPageDlg::CWebPageDlg(const QString& objectName, const QString& address, QWidget* parent)
    : QWidget(parent), m_address(address), m_browser(new QTextBrowser(this))
{
    setObjectName(objectName);
    m_browser->setObjectName(QStringLiteral("browser"));
    m_browser->setOpenLinks(false);
    m_browser->setFrameShape(QFrame::NoFrame);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &CWebPageDlg::OnAnchorClicked);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    Navigate();
}

void CWebPageDlg::Navigate()
{
    RunThenCallback(
        this,
        [url = m_address] {
            QString text;
            const bool ok = FetchText(url, text);
            return std::pair{ok, text};
        },
        [this](const std::pair<bool, QString>& page) { OnFetched(page.first, page.second); });
}

void CWebPageDlg::OnFetched(bool ok, const QString& text)
{
    if (ok) {
        m_browser->setHtml(text);
    } else {
        m_browser->setHtml(QStringLiteral("<h3>无法显示网页</h3><p>%1</p>").arg(m_address.toHtmlEscaped()));
    }
    m_loadState = ok ? 1 : -1;
    Q_EMIT PageLoaded(ok);
}

void CWebPageDlg::OnAnchorClicked(const QUrl& link)
{
    const QUrl target = QUrl(m_address).resolved(link);
    if (target.scheme() == QLatin1String("http") || target.scheme() == QLatin1String("https"))
        OpenWithDesktop(target.toString(), false, 0);
}

CHtmlHelpDlg::CHtmlHelpDlg(QWidget* parent)
    : CWebPageDlg(QStringLiteral("CHtmlHelpDlg"),
                  Endpoints().trackingBase + QStringLiteral("/rivuzovara/rivuzovara_help.asp"), parent)
{
}

CMirelAdDlg::CMirelAdDlg(QWidget* parent)
    : CWebPageDlg(QStringLiteral("CMirelAdDlg"), Endpoints().trackingBase + QStringLiteral("/ad.asp"), parent)
{
}
