#include "accounts/Autorun.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <mutex>

namespace {

std::mutex g_dirMutex;
QString g_dirOverride;

// An Exec argument: quoted when it holds a character the launcher would
// split or expand, with the quoting escapes doubled for the string value.
QString ExecArgument(const QString& path)
{
    static const QString kNeedsQuotes = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    QString arg;
    bool quote = false;
    for (QChar c : path) {
        if (kNeedsQuotes.contains(c))
            quote = true;
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            arg += u'\\';
        arg += c;
    }
    arg.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (quote)
        arg = u'"' + arg + u'"';
    // The string value's own escape of the backslash.
    arg.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return arg;
}

} // namespace

QString AutorunValueName()
{
    return QStringLiteral("Lumo助手-Vexa来客提醒");
}

QString AutostartDirectory()
{
    {
        std::lock_guard lock(g_dirMutex);
        if (!g_dirOverride.isEmpty())
            return g_dirOverride;
    }
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

void SetAutostartDirectory(const QString& dir)
{
    std::lock_guard lock(g_dirMutex);
    g_dirOverride = dir;
}

QString AutostartFilePath()
{
    return AutostartDirectory() + u'/' + AutorunValueName() + QStringLiteral(".desktop");
}

QString AutostartEntryText(const QString& programPath)
{
    if (programPath.isEmpty() || programPath.contains(u'\n') || programPath.contains(u'\r'))
        return QString();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Exec=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(AutorunValueName(), ExecArgument(programPath));
}

bool SetAutorunEntry(bool on, const QString& programPath)
{
    const QString path = AutostartFilePath();
    if (!on)
        return !QFile::exists(path) || QFile::remove(path);
    const QString text = AutostartEntryText(programPath);
    if (text.isEmpty() || !QDir().mkpath(AutostartDirectory()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(text.toUtf8());
    return file.commit();
}
