#include "platform/PrivateFiles.h"

#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <sys/stat.h>

namespace {

// What the program itself writes in its data directory; the IP data copies
// are public data and keep their mode.
const char* const kPrivateFiles[] = {
    "Info.mdb",        "Info.mdb-wal",      "Info.mdb-shm",      "Info.mdb-journal",  "mirelhelper.ini",
    "mirelhelper.log", "mirelhelper.log.1", "mirelhelper.log.2", "mirelhelper.log.3", "mirelhelper.lock",
};

bool ChangeMode(const QByteArray& path, mode_t mode)
{
    if (::chmod(path.constData(), mode) == 0)
        return true;
    qCWarning(LogStore).noquote() << "cannot restrict" << QFile::decodeName(path)
                                  << "to its owner:" << QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

} // namespace

bool KeepFilePrivate(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info
    {
    };
    // lstat: a link is not followed to somebody else's file.
    if (::lstat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return true;
    // Only the others' access goes: a file the owner made read-only stays so.
    if ((info.st_mode & 077) == 0)
        return true;
    return ChangeMode(name, info.st_mode & 0700);
}

bool MakePrivateDirectory(const QString& dir)
{
    if (QFileInfo::exists(dir))
        return true;
    const QString parent = QFileInfo(dir).absolutePath();
    if (!QDir().mkpath(parent))
        return false;
    // Created closed, so there is no moment when another user could look in.
    return QDir().mkdir(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) || QFileInfo(dir).isDir();
}

void SecureDataDirectory(const QString& dir)
{
    const QByteArray name = QFile::encodeName(dir);
    struct stat info
    {
    };
    if (::stat(name.constData(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & 077) != 0) {
        if (ChangeMode(name, info.st_mode & 0700))
            qCWarning(LogStore).noquote() << QStringLiteral("the data directory %1 was open to other users (mode %2): "
                                                            "now only its owner may enter it")
                                                 .arg(dir, QString::number(info.st_mode & 0777, 8));
    }
    SecureDataFiles(dir);
}

void SecureDataFiles(const QString& dir)
{
    for (const char* file : kPrivateFiles)
        KeepFilePrivate(dir + QLatin1Char('/') + QLatin1String(file));
}

mode_t CurrentUmask()
{
    // /proc tells it without the set-and-restore race between threads.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
        }
    }
    static std::mutex maskMutex;
    std::lock_guard lock(maskMutex);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

mode_t UmaskFileMode()
{
    return 0666 & ~CurrentUmask();
}
