#include "net/HttpText.h"

#include "net/UrlEncode.h"
#include "net/WinHttpEx.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

bool FetchText(const QString& url, QString& text)
{
    text.clear();
    CWinHttpEx http;
    QByteArray body;
    for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
        if (http.Get(url, body)) {
            text = AnsiToUnicode(body);
            return true;
        }
    }
    qCWarning(LogNet).noquote() << "request failed:" << RedactUrl(url) << "-" << http.LastError();
    return false;
}

namespace {

// The value travels in a zero-terminated buffer: a zero character ends it.
QString UpToZero(const QString& value)
{
    const qsizetype zero = value.indexOf(QChar(0));
    return zero < 0 ? value : value.left(zero);
}

} // namespace

QString ToQueryValue(const QString& value)
{
    return CURLEncode::Encode(UnicodeToOemLimited(UpToZero(value), kQueryValueBytes));
}

QString ToPlainQueryValue(const QString& value)
{
    return QString::fromLatin1(UnicodeToOem(UpToZero(value)).toPercentEncoding());
}
