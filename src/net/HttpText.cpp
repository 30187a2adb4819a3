#include "net/HttpText.h"

#include "net/UrlEncode.h"
#include "net/WinHttpEx.h"
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
    return false;
}

QString ToQueryValue(const QString& value)
{
    // The value travels in a zero-terminated buffer: a zero character ends it.
    const qsizetype zero = value.indexOf(QChar(0));
    const QString text = zero < 0 ? value : value.left(zero);
    return CURLEncode::Encode(UnicodeToOemLimited(text, kQueryValueBytes));
}
