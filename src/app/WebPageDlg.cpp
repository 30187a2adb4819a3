#include "app/WebPageDlg.h"

#include "controls/ui/OutsideText.h"
#include "monitor/ui/Explorer_showuserinfo.h"
#include "net/HttpText.h"
#include "platform/Endpoints.h"
#include "platform/OneShot.h"

#include <QTextBrowser>
#include <QVBoxLayout>

CWebPageDlg::CWebPageDlg(const QString& objectName, const QString& address, QWidget* parent)
    : QWidget(parent), m_address(address), m_browser(new CExplorer_showuserinfo(this))
{
    setObjectName(objectName);
    m_browser->setObjectName(QStringLiteral("browser"));
    m_browser->setAccessibleName(QStringLiteral("网页内容"));
    m_browser->setFrameShape(QFrame::NoFrame);
    // Whoever is on the plain-http path writes these pages.
    const QUrl origin(Endpoints().trackingBase);
    m_browser->SetOrigin(QUrl(m_address), {origin.host().toLower()});
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
    if (ok)
        m_browser->LoadHtml(text);
    else
        m_browser->LoadHtml(QStringLiteral("<h3>无法显示网页</h3><p>%1</p>").arg(TextAsMarkup(m_address)));
    m_loadState = ok ? 1 : -1;
    Q_EMIT PageLoaded(ok);
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
