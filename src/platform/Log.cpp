#include "platform/Log.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <sys/stat.h>

Q_LOGGING_CATEGORY(LogStore, "mirel.store")
Q_LOGGING_CATEGORY(LogNet, "mirel.net")
Q_LOGGING_CATEGORY(LogMonitor, "mirel.monitor")
Q_LOGGING_CATEGORY(LogGreet, "mirel.greet")
Q_LOGGING_CATEGORY(LogIploc, "mirel.iploc")
Q_LOGGING_CATEGORY(LogUi, "mirel.ui")
Q_LOGGING_CATEGORY(LogStats, "mirel.stats")

namespace {

std::mutex g_logMutex;
QString g_logPath;
QFile g_logFile;
QtMessageHandler g_previous = nullptr;
qint64 g_fileLimit = kLogFileLimit;
bool g_installed = false;

const char* LevelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

// The log names shops, visitors and addresses: its owner's to read only. A
// rename keeps the mode, so the older files stay so too.
void OpenLogLocked()
{
    if (g_logFile.open(QIODevice::WriteOnly | QIODevice::Append))
        ::fchmod(g_logFile.handle(), 0600);
}

// mirelhelper.log -> .1 -> .2 -> .3; the oldest goes.
void RotateLocked()
{
    g_logFile.close();
    QFile::remove(g_logPath + QStringLiteral(".%1").arg(kLogOldFiles));
    for (int i = kLogOldFiles - 1; i >= 1; --i)
        QFile::rename(g_logPath + QStringLiteral(".%1").arg(i), g_logPath + QStringLiteral(".%1").arg(i + 1));
    QFile::rename(g_logPath, g_logPath + QStringLiteral(".1"));
    g_logFile.setFileName(g_logPath);
    OpenLogLocked();
}

void WriteLine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8() +
                            ' ' + QByteArray(context.category ? context.category : "default") + ' ' + LevelName(type) +
                            ": " + message.toUtf8() + '\n';
    std::lock_guard lock(g_logMutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    if (!g_logFile.isOpen())
        return;
    if (g_logFile.size() + line.size() > g_fileLimit)
        RotateLocked();
    if (g_logFile.isOpen()) {
        g_logFile.write(line);
        g_logFile.flush();
    }
}

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    WriteLine(type, context, message);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void InstallLog(const QString& dataDir, qint64 fileLimit)
{
    {
        std::lock_guard lock(g_logMutex);
        g_fileLimit = fileLimit;
        g_logFile.close();
        g_logPath = dataDir + QStringLiteral("/mirelhelper.log");
        g_logFile.setFileName(g_logPath);
        OpenLogLocked();
        if (!g_logFile.isOpen())
            std::fprintf(stderr, "mirelhelper: cannot write %s\n", qPrintable(g_logPath));
        if (g_installed)
            return;
        g_installed = true;
    }
    g_previous = qInstallMessageHandler(Handler);
}

void UninstallLog()
{
    bool wasInstalled = false;
    {
        std::lock_guard lock(g_logMutex);
        wasInstalled = g_installed;
        g_installed = false;
        g_logFile.close();
    }
    if (wasInstalled)
        qInstallMessageHandler(g_previous);
}

QString LogFilePath()
{
    std::lock_guard lock(g_logMutex);
    return g_logPath;
}

QString RedactUrl(const QString& url)
{
    static const QRegularExpression secret(QStringLiteral("([?&][^=&#]*(?:pwd|pass)[^=&#]*=)[^&#]*"),
                                           QRegularExpression::CaseInsensitiveOption);
    QString redacted = url;
    redacted.replace(secret, QStringLiteral("\\1***"));
    return redacted;
}
