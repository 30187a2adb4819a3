#include "ChatLink.h"

#include <QUrl>

bool ParseChatLink(const QString& link, CChatLink& out)
{
    static const QString kScheme = QStringLiteral("lumochat://");
    if (!link.startsWith(kScheme, Qt::CaseInsensitive))
        return false;
    const qsizetype query = link.indexOf(QLatin1Char('?'));
    if (query < 0)
        return false;
    CChatLink parsed;
    // Split by hand: QUrl would re-encode or reject the raw names the sender inserts.
    const QStringList items = link.mid(query + 1).split(QLatin1Char('&'));
    for (const QString& item : items) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString key = equals < 0 ? item : item.left(equals);
        const QString value = equals < 0 ? QString() : QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8());
        if (key == QLatin1String("sid"))
            parsed.sid = value;
        else if (key == QLatin1String("id"))
            parsed.id = value;
    }
    if (parsed.id.isEmpty())
        return false;
    out = parsed;
    return true;
}
