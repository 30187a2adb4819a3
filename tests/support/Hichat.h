#pragma once
// hichat for end-to-end tests: registers it as the "lumochat" link handler in
// temporary XDG folders (the test's environment points XDG_DATA_HOME and
// XDG_CONFIG_HOME there, so every xdg-open the program starts finds it),
// runs one instance of its own with its own socket name and message log, and
// reads back what was sent. Used from the test's main thread.
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class CHichatSession
{
public:
    CHichatSession();
    ~CHichatSession();
    CHichatSession(const CHichatSession&) = delete;
    CHichatSession& operator=(const CHichatSession&) = delete;

    // Runs register-hichat into the temporary folders and points this
    // process's environment at them (restored when the object goes).
    bool Register();
    // Starts the instance and waits until it listens.
    bool Start();
    // Asks the instance to quit (also one the desktop started for us), then
    // ends our own process if it does not.
    void Stop();
    // An instance answers on our socket name.
    bool IsRunning() const;
    // Ends our instance at once, leaving its socket behind.
    void Kill();

    // Hands a link over the way the desktop does: "hichat LINK"; its exit code.
    int OpenLink(const QString& link) const;

    QList<QJsonObject> Messages() const;
    bool WaitForMessages(int count, int timeoutMs) const;
    void ClearMessages() const;

    QString LogPath() const;
    QString InstanceName() const { return m_instance; }
    QString DataHome() const;
    QString ConfigHome() const;
    // Why the last step failed, with what the programs printed.
    QString Error() const { return m_error; }

    static QString ProgramPath();
    static QString RegisterScriptPath();

private:
    void SetEnvironment(const char* name, const QByteArray& value);

    QTemporaryDir m_dir;
    QString m_instance;
    QProcess m_process;
    QString m_error;
    QList<QPair<QByteArray, QByteArray>> m_savedEnvironment; // name, value ("\0" when unset)
};
