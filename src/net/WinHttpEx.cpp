#include "net/WinHttpEx.h"

#include "net/WebAddress.h"
#include "platform/AbortScope.h"

#include <QDebug>
#include <QUrl>

#include <curl/curl.h>

#include <atomic>
#include <mutex>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

std::atomic<int> g_connectTimeoutMs{kConnectTimeoutMs};
std::atomic<int> g_requestTimeoutMs{kRequestTimeoutMs};

// How long one wait for socket activity may last before the stop flag is
// looked at again: the bound on how late an abort is noticed.
constexpr int kAbortPollMs = 100;

// The platform's redirect limit.
constexpr long kMaxRedirects = 10;

bool StartsWithNoCase(const QByteArray& text, const char* prefix)
{
    return text.toLower().startsWith(prefix);
}

// State of one transfer, shared with the libcurl callbacks.
struct SRequest
{
    QByteArray headers; // raw header text of the latest response
    QByteArray body;
    CURL* easy = nullptr;
    bool refused = false;                         // body too large, downgrade or abort
    const QStringList* internalOrigins = nullptr; // internal addresses allowed for these origins
};

int PortOf(const sockaddr* address)
{
    if (address->sa_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
    if (address->sa_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
    return -1;
}

// The connection being made is for the hop libcurl is on now (after a
// redirect, the new address): allowed when that hop's origin is one of the
// exceptions and the socket goes to the origin's own port.
bool InternalConnectionAllowed(const SRequest& request, const sockaddr* address)
{
    if (!request.internalOrigins || request.internalOrigins->isEmpty())
        return false;
    char* current = nullptr;
    curl_easy_getinfo(request.easy, CURLINFO_EFFECTIVE_URL, &current);
    if (!current)
        return false;
    const QString url = QString::fromUtf8(current);
    const QString origin = WebOrigin(url);
    const QUrl parsed(url);
    return request.internalOrigins->contains(origin) &&
           PortOf(address) == parsed.port(parsed.scheme().toLower() == QLatin1String("https") ? 443 : 80);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* request = static_cast<SRequest*>(user);
    const size_t length = size * count;
    const QByteArray line(data, static_cast<qsizetype>(length));
    // Headers of a redirect or of "100 Continue" are not the reply's.
    if (line.startsWith("HTTP/"))
        request->headers.clear();
    request->headers += line;
    // Like the platform's default policy, never leave https for plain http.
    if (StartsWithNoCase(line, "location:") && StartsWithNoCase(line.mid(9).trimmed(), "http:")) {
        char* current = nullptr;
        curl_easy_getinfo(request->easy, CURLINFO_EFFECTIVE_URL, &current);
        if (current && StartsWithNoCase(QByteArray(current), "https:")) {
            request->refused = true;
            return 0;
        }
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* request = static_cast<SRequest*>(user);
    const size_t length = size * count;
    if (AbortRequested() || request->body.size() + static_cast<qint64>(length) > kMaxBodyBytes) {
        request->refused = true;
        return 0;
    }
    request->body.append(data, static_cast<qsizetype>(length));
    return length;
}

// Asked for every connection; the one place that sees the address a name or a redirect really led to.
curl_socket_t OpenCheckedSocket(void* user, curlsocktype purpose, curl_sockaddr* address)
{
    (void)purpose;
    auto* request = static_cast<SRequest*>(user);
    if (IsInternalHostAddress(&address->addr) && !InternalConnectionAllowed(*request, &address->addr)) {
        request->refused = true;
        qWarning("http: connection to an internal address refused");
        return CURL_SOCKET_BAD;
    }
    return socket(address->family, address->socktype, address->protocol);
}

// The request target as it goes on the wire: bytes the request line cannot
// carry are percent-escaped (the platform escapes them the same way), the
// rest, percent signs included, is sent as the caller wrote it.
QByteArray WireTarget(const QString& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    const QByteArray raw = path.isEmpty() ? QByteArray("/") : path.toUtf8();
    QByteArray out;
    out.reserve(raw.size());
    for (const char c : raw) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || b == '"' || b == '<' || b == '>' || b == '\\' || b == '^' || b == '`' ||
            b == '{' || b == '|' || b == '}' || b == '#') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    if (!out.startsWith('/'))
        out.prepend('/');
    return out;
}

} // namespace

void InitHttpOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetHttpTimeouts(int connectMs, int requestMs)
{
    g_connectTimeoutMs = connectMs > 0 ? connectMs : kConnectTimeoutMs;
    g_requestTimeoutMs = requestMs > 0 ? requestMs : kRequestTimeoutMs;
}

CWinHttpEx::CWinHttpEx()
{
    InitHttpOnce();
    m_session = curl_multi_init();
}

CWinHttpEx::~CWinHttpEx()
{
    if (m_session)
        curl_multi_cleanup(static_cast<CURLM*>(m_session));
}

const char* CWinHttpEx::UserAgent()
{
    return "Mozilla/6.0 (compatible; MSIE 6.0; Windows 5.1)";
}

bool CWinHttpEx::CrackUrl(const QString& url, QString& host, QString& path, int& port, bool& secure)
{
    host.clear();
    path.clear();
    port = 0;
    secure = url.toLower().startsWith(QLatin1String("https://"));
    qsizetype rest = 0;
    if (secure)
        rest = 8;
    else if (url.toLower().startsWith(QLatin1String("http://")))
        rest = 7;
    else
        return false;

    qsizetype pathStart = rest;
    while (pathStart < url.size() && url.at(pathStart) != QLatin1Char('/') && url.at(pathStart) != QLatin1Char('?') &&
           url.at(pathStart) != QLatin1Char('#'))
        ++pathStart;
    QString authority = url.mid(rest, pathStart - rest);
    path = url.mid(pathStart);
    if (path.startsWith(QLatin1Char('?')) || path.startsWith(QLatin1Char('#')))
        path.prepend(QLatin1Char('/'));

    // User name and password are cracked but not used.
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        authority = authority.mid(at + 1);

    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = authority.left(close + 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return false;
            portText = after.mid(1);
        }
    } else {
        const qsizetype colon = authority.indexOf(QLatin1Char(':'));
        host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0)
            portText = authority.mid(colon + 1);
    }
    if (host.isEmpty() || host == QLatin1String("[]")) {
        host.clear();
        return false;
    }
    port = secure ? 443 : 80;
    if (!portText.isEmpty()) {
        bool ok = false;
        const int value = portText.toInt(&ok);
        if (!ok || value <= 0 || value > 65535 || portText.startsWith(QLatin1Char('+'))) {
            host.clear();
            path.clear();
            port = 0;
            return false;
        }
        port = value;
    }
    return true;
}

bool CWinHttpEx::Get(const QString& url, QByteArray& body)
{
    body.clear();
    m_lastError.clear();
    QString host;
    QString path;
    int port = 0;
    bool secure = false;
    if (!CrackUrl(url, host, path, port, secure)) {
        m_lastError = QStringLiteral("not an http address");
        return false;
    }
    auto* session = static_cast<CURLM*>(m_session);
    if (!session || AbortRequested()) {
        m_lastError = QStringLiteral("aborted");
        return false;
    }
    CURL* easy = curl_easy_init();
    if (!easy)
        return false;

    SRequest request;
    request.easy = easy;
    request.body.reserve(1024);
    const QByteArray target =
        QByteArray(secure ? "https://" : "http://") + host.toUtf8() + ':' + QByteArray::number(port) + WireTarget(path);

    curl_easy_setopt(easy, CURLOPT_URL, target.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, UserAgent());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(g_connectTimeoutMs.load()));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(g_requestTimeoutMs.load()));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &request);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request);
    if (m_refuseInternal) {
        request.internalOrigins = &m_internalOrigins;
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &OpenCheckedSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &request);
    }

    bool done = false;
    CURLcode result = CURLE_FAILED_INIT;
    if (curl_multi_add_handle(session, easy) == CURLM_OK) {
        // Drive the transfer on this thread, waking at least every
        // kAbortPollMs to look at the stop flag; libcurl enforces the time-outs.
        for (;;) {
            int running = 0;
            if (curl_multi_perform(session, &running) != CURLM_OK)
                break;
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(session, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    done = true;
                    result = message->data.result;
                }
            }
            if (done || running == 0 || AbortRequested())
                break;
            if (curl_multi_poll(session, nullptr, 0, kAbortPollMs, nullptr) != CURLM_OK)
                break;
        }
        curl_multi_remove_handle(session, easy);
    }
    curl_easy_cleanup(easy);

    if (!done || result != CURLE_OK || request.refused) {
        m_lastError = !done                ? QStringLiteral("aborted")
                      : result != CURLE_OK ? QString::fromUtf8(curl_easy_strerror(result))
                                           : QStringLiteral("reply refused");
        return false;
    }
    // Accept exactly the status the service promises, reason phrase included.
    if (!request.headers.contains(" 200 OK")) {
        m_lastError = QString::fromLatin1(request.headers.left(request.headers.indexOf('\r'))).left(100);
        return false;
    }
    // A fresh copy, so the caller never shares the growing buffer.
    body = QByteArray(request.body.constData(), request.body.size());
    return true;
}
