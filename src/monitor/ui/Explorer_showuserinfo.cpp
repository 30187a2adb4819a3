#include "monitor/ui/Explorer_showuserinfo.h"

#include "net/WebAddress.h"
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

void CExplorer_showuserinfo::SetOrigin(const QUrl& base, const QStringList& hosts)
{
    m_base = base;
    m_hosts = hosts;
}

QUrl CExplorer_showuserinfo::Resolved(const QUrl& name) const
{
    return m_base.isValid() && name.isRelative() ? m_base.resolved(name) : name;
}

namespace {

// What a refused or not yet fetched resource gets. It must not be empty: Qt
// reads a picture it was given no data for straight from the file its
// address names.
QVariant EmptyResource(int type)
{
    if (type == QTextDocument::ImageResource) {
        static const QImage blank = [] {
            QImage image(1, 1, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            return image;
        }();
        return blank;
    }
    return QByteArray();
}

} // namespace

QVariant CExplorer_showuserinfo::loadResource(int type, const QUrl& name)
{
    const QUrl address = Resolved(name);
    // The program's own resources.
    if (address.scheme().compare(QLatin1String("qrc"), Qt::CaseInsensitive) == 0)
        return QTextBrowser::loadResource(type, address);
    const QString url = address.toString();
    if (type != QTextDocument::ImageResource || !IsWebAddress(url) ||
        (!m_hosts.isEmpty() && !m_hosts.contains(address.host().toLower()))) {
        qWarning("browser: resource refused: only http/https pictures of the page's own host load");
        return EmptyResource(type);
    }
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
    return EmptyResource(type);
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
    const QUrl target = Resolved(link);
    if (IsWebAddress(target.toString()))
        OpenWithDesktop(target.toString(QUrl::FullyEncoded), false, 0);
    else
        qWarning("browser: link not opened: not http/https");
}
