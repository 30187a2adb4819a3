#include "notify/ui/ShowOneClientDlg.h"

#include "controls/ui/OutsideText.h"

#include <QTextBrowser>
#include <QVBoxLayout>

CShowOneClientDlg::CShowOneClientDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("CShowOneClientDlg"));
    setWindowTitle(QStringLiteral("客户信息"));
    // 122 x 182 dialog units of the classic 9-point dialog font.
    resize(214, 364);
    m_browser->setObjectName(QStringLiteral("visitorInfoBrowser"));
    m_browser->setOpenLinks(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
}

int CShowOneClientDlg::exec()
{
    if (m_visitorName.isEmpty()) {
        setResult(0);
        return 0;
    }
    ShowVisitorInfo(m_visitorName);
    return QDialog::exec();
}

void CShowOneClientDlg::ShowVisitorInfo(const QString& name)
{
    QString html = QStringLiteral("<p><b>访客:</b> %1</p>").arg(TextAsMarkup(name));
    if (!m_visitorImId.isEmpty())
        html += QStringLiteral("<p><b>ID:</b> %1</p>").arg(TextAsMarkup(m_visitorImId));
    m_browser->setHtml(html);
}
