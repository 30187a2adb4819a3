#include "monitor/ItemTitle.h"

#include "net/WebAddress.h"
#include "net/WinHttpEx.h"
#include "platform/TextCodec.h"

namespace {

const QString kOpenTag = QStringLiteral("<title>");
const QString kCloseTag = QStringLiteral("</title>");
// From the start of "<title>" to the start of "</title>": a title of at most 93 characters.
constexpr qsizetype kMaxTagDistance = 100;

} // namespace

QString ExtractItemTitle(const QString& page)
{
    const QString none = QString::fromLatin1(kNoTitle);
    const qsizetype start = page.indexOf(kOpenTag);
    if (start < 0)
        return none;
    const qsizetype textStart = start + kOpenTag.size();
    const qsizetype end = page.indexOf(kCloseTag, textStart);
    if (end < 0 || end - start > kMaxTagDistance)
        return none;

    QString title = page.mid(textStart, end - textStart);
    // The order matters: "首页-" before "首页", " - " before the lone blank.
    static const QString kNoise[] = {
        QStringLiteral("首页-"),  QStringLiteral("首页"), QStringLiteral("Lumo网 - "), QStringLiteral("-Lumo网"),
        QStringLiteral("Lumo网"), QStringLiteral(" - "),  QStringLiteral(" "),         QStringLiteral("\r"),
        QStringLiteral("\n"),     QStringLiteral("\t"),
    };
    for (const QString& noise : kNoise)
        title.remove(noise);
    return title;
}

QString LookupItemTitle(const QString& url)
{
    if (!IsWebAddress(url))
        return QString::fromLatin1(kNoTitle);
    // Anyone can put an address in the feed: it must not make the owner's
    // machine ask its own network, except the configured services themselves.
    const QStringList origins = ConfiguredOrigins();
    if (!MayFetchTitle(url, origins)) {
        qWarning("monitor: item title not fetched: the address names an internal host that is no configured service");
        return QString::fromLatin1(kNoTitle);
    }
    QByteArray body;
    {
        CWinHttpEx http;
        // Where names and redirects really lead is checked at every connection.
        http.RefuseInternalHosts(true, origins);
        if (!http.Get(url, body))
            return QString::fromLatin1(kNoTitle);
    }
    return ExtractItemTitle(AnsiToUnicode(body));
}
