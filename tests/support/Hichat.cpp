#include "support/Hichat.h"

#include "support/XvfbSession.h"

#include <QFile>
#include <QJsonDocument>
#include <QUuid>

namespace {

const QByteArray kUnset("\0", 1);

// Desktop sessions make xdg-open hand links to their own tools; the tests use its plain path.
const char* const kDesktopVariables[] = {"XDG_CURRENT_DESKTOP",      "DESKTOP_SESSION",         "KDE_FULL_SESSION",
                                         "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "BROWSER"};

} // namespace

CHichatSession::CHichatSession()
    : m_instance(QStringLiteral("hichat-test-") + QUuid::createUuid().toString(QUuid::Id128).left(12))
{
    SetEnvironment("HICHAT_INSTANCE", m_instance.toUtf8());
    SetEnvironment("HICHAT_LOG", LogPath().toUtf8());
}

CHichatSession::~CHichatSession()
{
    Stop();
    for (auto it = m_savedEnvironment.rbegin(); it != m_savedEnvironment.rend(); ++it) {
        if (it->second == kUnset)
            qunsetenv(it->first.constData());
        else
            qputenv(it->first.constData(), it->second);
    }
}

void CHichatSession::SetEnvironment(const char* name, const QByteArray& value)
{
    m_savedEnvironment.append({name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : kUnset});
    if (value == kUnset)
        qunsetenv(name);
    else
        qputenv(name, value);
}

QString CHichatSession::ProgramPath()
{
    return QStringLiteral(MIREL_BINARY_DIR "/tools/hichat/hichat");
}

QString CHichatSession::RegisterScriptPath()
{
    return QStringLiteral(MIREL_SOURCE_DIR "/tools/hichat/register-hichat");
}

QString CHichatSession::LogPath() const
{
    return m_dir.filePath(QStringLiteral("messages.jsonl"));
}

QString CHichatSession::DataHome() const
{
    return m_dir.filePath(QStringLiteral("data"));
}

QString CHichatSession::ConfigHome() const
{
    return m_dir.filePath(QStringLiteral("config"));
}

bool CHichatSession::Register()
{
    SetEnvironment("XDG_DATA_HOME", DataHome().toUtf8());
    SetEnvironment("XDG_CONFIG_HOME", ConfigHome().toUtf8());
    for (const char* name : kDesktopVariables)
        SetEnvironment(name, kUnset);
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(RegisterScriptPath(), {ProgramPath()});
    if (!script.waitForFinished(30000) || script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0) {
        m_error = QStringLiteral("register-hichat failed: ") + QString::fromUtf8(script.readAll());
        return false;
    }
    return true;
}

bool CHichatSession::Start()
{
    m_process.setProgram(ProgramPath());
    m_process.setArguments(
        {QStringLiteral("--foreground"), QStringLiteral("--instance"), m_instance, QStringLiteral("--log"), LogPath()});
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("hichat did not start: ") + m_process.errorString();
        return false;
    }
    QByteArray output;
    const bool ready = WaitUntil(
        [&] {
            output += m_process.readAllStandardOutput();
            return output.contains("ready") || m_process.state() == QProcess::NotRunning;
        },
        10000);
    if (!ready || !output.contains("ready")) {
        m_error =
            QStringLiteral("hichat is not ready: ") + QString::fromUtf8(output + m_process.readAllStandardError());
        return false;
    }
    return true;
}

void CHichatSession::Stop()
{
    if (IsRunning()) {
        QProcess::execute(ProgramPath(), {QStringLiteral("--quit"), QStringLiteral("--instance"), m_instance});
        WaitUntil([&] { return !IsRunning(); }, 5000);
    }
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void CHichatSession::Kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool CHichatSession::IsRunning() const
{
    return QProcess::execute(ProgramPath(), {QStringLiteral("--ping"), QStringLiteral("--instance"), m_instance}) == 0;
}

int CHichatSession::OpenLink(const QString& link) const
{
    return QProcess::execute(ProgramPath(), {QStringLiteral("--instance"), m_instance, link});
}

QList<QJsonObject> CHichatSession::Messages() const
{
    QList<QJsonObject> messages;
    QFile file(LogPath());
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            messages.append(QJsonDocument::fromJson(line).object());
    }
    return messages;
}

bool CHichatSession::WaitForMessages(int count, int timeoutMs) const
{
    return WaitUntil([&] { return Messages().size() >= count; }, timeoutMs);
}

void CHichatSession::ClearMessages() const
{
    QFile::remove(LogPath());
}
