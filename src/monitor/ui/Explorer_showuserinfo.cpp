#include "monitor/ui/Explorer_showuserinfo.h"

#include "net/WinHttpEx.h"
#include "platform/Launcher.h"
#include "platform/OneShot.h"

#include <QTextDocument>

CExplorer_showuserinfo::CExplorer_showuserinfo(QWidget* parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &CExplorer_showuserinfo::OnAnchorClicked);
}

CExplorer_showuserinfo::~CExplorer_showuserinfo() = default;

void CExplorer_showuserinfo::Navigate(const QString& address)
{
    if (address == QLatin1String("about:blank")) {
        m_html.clear();
        clear();
    }
}

void CExplorer_showuserinfo::LoadHtml(const QString& html)
{
    m_html = html;
    setHtml(html);
    // Make sure the pictures are asked for even while the pane is covered and never painted.
    document()->adjustSize();
}

QVariant CExplorer_showuserinfo::loadResource(int type, const QUrl& name)
{
    const QString scheme = name.scheme().toLower();
    if (type != QTextDocument::ImageResource || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QTextBrowser::loadResource(type, name);
    const QString url = name.toString();
    const auto found = m_images.constFind(url);
    if (found != m_images.constEnd())
        return *found;
    if (!m_requested.contains(url)) {
        m_requested.insert(url);
        m_pending.append(url);
        // The document asks during layout; start one fetch for everything it asked.
        if (!m_fetchQueued) {
            m_fetchQueued = true;
            QMetaObject::invokeMethod(this, &CExplorer_showuserinfo::StartPendingFetches, Qt::QueuedConnection);
        }
    }
    return {};
}

void CExplorer_showuserinfo::StartPendingFetches()
{
    m_fetchQueued = false;
    if (m_fetching || m_pending.isEmpty())
        return;
    // One picture at a time, in the order asked; each shows as it comes.
    m_fetching = true;
    const QString url = m_pending.takeFirst();
    RunThenCallback(
        this,
        [url] {
            QByteArray bytes;
            const bool ok = CWinHttpEx().Get(url, bytes);
            return std::pair{ok, ok ? bytes : QByteArray()};
        },
        [this, url](const std::pair<bool, QByteArray>& reply) {
            m_fetching = false;
            OnImageFetched(url, reply.second, reply.first);
            StartPendingFetches();
        });
}

void CExplorer_showuserinfo::OnImageFetched(const QString& url, const QByteArray& bytes, bool ok)
{
    QImage image;
    if (ok && image.loadFromData(bytes))
        m_images.insert(url, image);
    else
        ok = false;
    // Lay the page out again so the picture takes its place.
    if (ok && !m_html.isEmpty())
        setHtml(m_html);
    Q_EMIT ImageArrived(url, ok);
}

void CExplorer_showuserinfo::OnAnchorClicked(const QUrl& link)
{
    const QString scheme = link.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        OpenWithDesktop(link.toString(QUrl::FullyEncoded), false, 0);
}
