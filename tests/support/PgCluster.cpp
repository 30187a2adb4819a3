#include "support/PgCluster.h"

#include <libpq-fe.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

namespace {

constexpr int kScriptTimeoutMs = 120000;

QString ScriptPath()
{
    return QStringLiteral(MIREL_SOURCE_DIR "/scripts/pg-cluster");
}

} // namespace

CPgCluster::~CPgCluster()
{
    Stop();
}

QString CPgCluster::Folder() const
{
    return m_folder ? m_folder->path() : QString();
}

bool CPgCluster::RunScript(const QStringList& arguments, QString* output, QString* why) const
{
    QProcess script;
    // Durability is not wanted from a cluster that lives for one test.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MIREL_PG_OPTIONS"),
                       QStringLiteral("-c fsync=off -c synchronous_commit=off -c full_page_writes=off"));
    script.setProcessEnvironment(environment);
    script.start(ScriptPath(), arguments);
    const bool finished = script.waitForFinished(kScriptTimeoutMs);
    const QString err = QString::fromLocal8Bit(script.readAllStandardError()).trimmed();
    if (output)
        *output = QString::fromLocal8Bit(script.readAllStandardOutput()).trimmed();
    if (!finished || script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0) {
        if (why) {
            *why = QStringLiteral("%1 %2 failed: %3")
                       .arg(ScriptPath(), arguments.join(QLatin1Char(' ')), err.isEmpty() ? script.errorString() : err);
        }
        if (!finished)
            script.kill();
        return false;
    }
    return true;
}

bool CPgCluster::Start(QString* why)
{
    if (!m_folder) {
        m_folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/mirel-pg-XXXXXX"));
        if (!m_folder->isValid()) {
            if (why)
                *why = QStringLiteral("no temporary folder: %1").arg(m_folder->errorString());
            m_folder.reset();
            return false;
        }
    }
    QString url;
    if (!RunScript({QStringLiteral("start"), m_folder->path()}, &url, why))
        return false;
    m_url = url.section(QLatin1Char('\n'), -1);
    return true;
}

void CPgCluster::Stop()
{
    if (m_folder && IsRunning())
        RunScript({QStringLiteral("stop"), m_folder->path()}, nullptr, nullptr);
}

void CPgCluster::Restart()
{
    Stop();
    Start();
}

bool CPgCluster::IsRunning() const
{
    if (!m_folder)
        return false;
    QFile pidFile(m_folder->path() + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return false;
    const qint64 pid = pidFile.readLine().trimmed().toLongLong();
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

QString CPgCluster::Log() const
{
    QFile log(Folder() + QStringLiteral("/server.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

bool CPgCluster::Query(const QString& sql, QStringList* rows, QString* why) const
{
    PGconn* connection = PQconnectdb(m_url.toUtf8().constData());
    bool ok = PQstatus(connection) == CONNECTION_OK;
    if (ok) {
        PGresult* result = PQexec(connection, sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        ok = status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK;
        if (!ok && why)
            *why = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        if (ok && rows) {
            rows->clear();
            for (int r = 0; r < PQntuples(result); ++r) {
                QStringList columns;
                for (int c = 0; c < PQnfields(result); ++c)
                    columns << QString::fromUtf8(PQgetvalue(result, r, c));
                rows->append(columns.join(QLatin1Char('|')));
            }
        }
        PQclear(result);
    } else if (why) {
        *why = QString::fromUtf8(PQerrorMessage(connection)).trimmed();
    }
    PQfinish(connection);
    return ok;
}
