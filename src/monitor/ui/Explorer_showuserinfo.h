#pragma once
// The browser pane of the visitor list page and of the service's pages. It
// shows HTML handed to it; the pictures such a page names by http/https
// address are fetched off the window's thread (a slow or absent host never
// freezes the window) and the page is laid out again when they arrive. No
// other resource is ever read, least of all a local file: anything else gets
// an empty picture. Links open in the desktop's browser only when they are
// http/https. Window's thread only.
#include <QHash>
#include <QImage>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextBrowser>
#include <QUrl>

class CExplorer_showuserinfo : public QTextBrowser
{
    Q_OBJECT
public:
    explicit CExplorer_showuserinfo(QWidget* parent = nullptr);
    ~CExplorer_showuserinfo() override;

    // Relative addresses in the page are taken against base; when hosts is not
    // empty, pictures come only from those hosts (lower case).
    void SetOrigin(const QUrl& base, const QStringList& hosts);

    // Only "about:blank" is a place of its own: an empty pane.
    void Navigate(const QString& address);
    // Shows html as the pane's document.
    void LoadHtml(const QString& html);
    QString Html() const { return m_html; }

    // Pictures fetched so far, by address (tests).
    bool HasImage(const QString& url) const { return m_images.contains(url); }
    int ImageCount() const { return static_cast<int>(m_images.size()); }

    QVariant loadResource(int type, const QUrl& name) override;

Q_SIGNALS:
    // A picture came back (ok) or could not be had, and the page was laid out again.
    void ImageArrived(const QString& url, bool ok);

private:
    void StartPendingFetches();
    void OnImageFetched(const QString& url, const QByteArray& bytes, bool ok);
    void OnAnchorClicked(const QUrl& link);

    QUrl Resolved(const QUrl& name) const;

    QUrl m_base;
    QStringList m_hosts;
    QString m_html;
    QHash<QString, QImage> m_images;
    // Asked for once each, whatever the answer.
    QSet<QString> m_requested;
    QStringList m_pending;
    bool m_fetchQueued = false;
    bool m_fetching = false;
};
