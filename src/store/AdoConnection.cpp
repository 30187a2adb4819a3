#include "store/AdoConnection.h"

#include "store/SqliteBackend.h"
#include "store/TeamBackend.h"

#include <QRegularExpression>

#include <mutex>

CAdoConnection* g_pConnection = nullptr;

namespace {

const char kProviderPrefix[] = "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=";

} // namespace

CAdoConnection::CAdoConnection() = default;

CAdoConnection::~CAdoConnection()
{
    Close();
}

bool CAdoConnection::Connect(const QString& path, const QString& password, int options)
{
    Q_UNUSED(password); // the store carries no password
    return Open(QLatin1String(kProviderPrefix) + path, options);
}

QString CAdoConnection::DataSourceOf(const QString& connectionString)
{
    static const QRegularExpression source(QStringLiteral("data source\\s*="),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = source.match(connectionString);
    if (!m.hasMatch())
        return QString();
    QString rest = connectionString.mid(m.capturedEnd());
    // A following "; Key=" ends the value; a semicolon inside a file name stays.
    static const QRegularExpression nextKey(QStringLiteral(";\\s*[A-Za-z][A-Za-z ]*="));
    const QRegularExpressionMatch k = nextKey.match(rest);
    if (k.hasMatch())
        rest.truncate(k.capturedStart());
    return rest.trimmed();
}

bool CAdoConnection::Open(const QString& connectionString, int options)
{
    Q_UNUSED(options); // only the original provider had cursor and lock options
    if (!connectionString.isEmpty())
        m_connectionString = connectionString;
    if (m_connectionString.isEmpty()) {
        m_lastOpenError = QStringLiteral("没有指定数据库");
        return false;
    }
    Close();
    const QString path = DataSourceOf(m_connectionString);
    if (path.isEmpty()) {
        m_lastOpenError = QStringLiteral("没有指定数据库文件");
        return false;
    }
    m_lastOpenError.clear();
    auto local = std::make_unique<CSqliteBackend>();
    if (!local->Open(path, &m_lastOpenError))
        return false;
    std::unique_lock lock(m_backendLock);
    if (QThread* window = m_windowThread.load())
        local->SetWindowThread(window, m_windowBusyMs);
    m_backend = std::move(local);
    return true;
}

bool CAdoConnection::ConnectTeam(const QString& url, const QString& machine)
{
    Close();
    m_connectionString = url;
    m_lastOpenError.clear();
    if (url.trimmed().isEmpty()) {
        // libpq would quietly take its own defaults (a local server, the login name).
        m_lastOpenError = QStringLiteral("mirelhelper.ini 的 [store] 中没有设置 url");
        return false;
    }
    auto team = std::make_unique<CTeamBackend>(url, machine, m_windowThread.load());
    QString why;
    bool refused = false;
    if (!team->Start(&why, &refused)) {
        m_lastOpenError = why;
        if (refused)
            return false;
    }
    std::unique_lock lock(m_backendLock);
    m_backend = std::move(team);
    return true;
}

void CAdoConnection::Close()
{
    std::unique_ptr<CStoreBackend> backend;
    {
        std::unique_lock lock(m_backendLock);
        std::swap(backend, m_backend);
    }
    // Record sets still reading keep what they read from alive until they are done.
    backend.reset();
}

void CAdoConnection::SetWindowThread(QThread* thread, int busyTimeoutMs)
{
    std::unique_lock lock(m_backendLock);
    m_windowBusyMs = busyTimeoutMs;
    m_windowThread = thread;
    if (m_backend)
        m_backend->SetWindowThread(thread, busyTimeoutMs);
}

bool CAdoConnection::IsOpen() const
{
    std::shared_lock lock(m_backendLock);
    return m_backend != nullptr;
}

bool CAdoConnection::IsTeamStore() const
{
    std::shared_lock lock(m_backendLock);
    return m_backend && m_backend->IsTeam();
}

QString CAdoConnection::MachineName() const
{
    std::shared_lock lock(m_backendLock);
    return m_backend ? m_backend->MachineName() : QString();
}

bool CAdoConnection::IsReachable() const
{
    std::shared_lock lock(m_backendLock);
    return m_backend && m_backend->IsReachable();
}

bool CAdoConnection::Execute(const QString& sql)
{
    return ExecuteChanges(sql) >= 0;
}

int CAdoConnection::ExecuteChanges(const QString& sql)
{
    std::shared_lock lock(m_backendLock);
    return m_backend ? m_backend->ExecuteChanges(sql) : -1;
}

bool CAdoConnection::ExecuteChain(const QString& first, const std::function<QString(int, int)>& next,
                                  QList<int>* changes)
{
    if (changes)
        changes->clear();
    std::shared_lock lock(m_backendLock);
    return m_backend && m_backend->ExecuteChain(first, next, changes);
}

bool CAdoConnection::DeleteWhere(const QString& table, const QString& condition)
{
    std::shared_lock lock(m_backendLock);
    return m_backend && m_backend->DeleteWhere(table, condition);
}

std::unique_ptr<CStoreCursor> CAdoConnection::OpenCursor(const QString& sql)
{
    std::shared_lock lock(m_backendLock);
    return m_backend ? m_backend->OpenCursor(sql) : nullptr;
}

QString CAdoConnection::ConnectionString() const
{
    return m_connectionString;
}

QString CAdoConnection::LastOpenError() const
{
    return m_lastOpenError;
}

sqlite3* CAdoConnection::Handle() const
{
    std::shared_lock lock(m_backendLock);
    const auto* local = dynamic_cast<const CSqliteBackend*>(m_backend.get());
    return local ? local->Handle() : nullptr;
}
