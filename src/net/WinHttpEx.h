#pragma once
// One HTTP session for one operation (up to three attempts of the same URL),
// over libcurl. Created as a local object on the calling thread, never
// shared between threads; every request is a synchronous GET that a stopping
// worker can abort through CAbortScope (platform/AbortScope.h).
#include <QByteArray>
#include <QString>
#include <QStringList>

// A reply body larger than this is a failure.
constexpr qint64 kMaxBodyBytes = 8 * 1024 * 1024;
// The program's limits; only tests change them (SetHttpTimeouts).
constexpr int kConnectTimeoutMs = 10 * 1000;
constexpr int kRequestTimeoutMs = 30 * 1000;

class CWinHttpEx
{
public:
    CWinHttpEx();
    ~CWinHttpEx();
    CWinHttpEx(const CWinHttpEx&) = delete;
    CWinHttpEx& operator=(const CWinHttpEx&) = delete;

    // One GET of an absolute "http://" or "https://" URL. True only for a
    // response whose raw headers contain " 200 OK"; body then holds a fresh
    // copy of the reply bytes (body.size() is their count and the byte after
    // them is 0). On failure body is empty.
    bool Get(const QString& url, QByteArray& body);
    // Why the last Get failed (curl's words, or the status line), for the log.
    QString LastError() const { return m_lastError; }

    // Splits an absolute URL. secure is true when the lower-cased URL begins
    // with "https://"; the path keeps its query; the port defaults to 80/443.
    // False for any other scheme, an empty host or a bad port.
    static bool CrackUrl(const QString& url, QString& host, QString& path, int& port, bool& secure);

    // The user agent every request sends.
    static const char* UserAgent();

    // From now on no connection of this session goes to an internal address
    // (net/WebAddress.h), whatever name or redirect led there, except for an
    // address whose origin (WebOrigin) is one of exceptOrigins.
    void RefuseInternalHosts(bool refuse, const QStringList& exceptOrigins = {})
    {
        m_refuseInternal = refuse;
        m_internalOrigins = exceptOrigins;
    }

private:
    void* m_session = nullptr; // CURLM*, keeps connections between attempts
    bool m_refuseInternal = false;
    QStringList m_internalOrigins;
    QString m_lastError;
};

// libcurl's global set-up, once per process; before any handle is made.
void InitHttpOnce();

// Tests shorten the time-outs so a silent server fails fast; values <= 0
// restore the program's limits.
void SetHttpTimeouts(int connectMs, int requestMs);
