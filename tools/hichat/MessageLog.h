#pragma once
// Every sent message as one JSON line {"time","sid","id","text"}, appended and
// flushed at once so that a test or the demo can read it while we run.
#include <QString>

class CMessageLog
{
public:
    explicit CMessageLog(const QString& path);
    QString Path() const { return m_path; }
    bool Append(const QString& sid, const QString& id, const QString& text);

    // --log, else HICHAT_LOG, else <XDG data home>/hichat/messages.jsonl.
    static QString ChoosePath(const QString& fromCommandLine);

private:
    QString m_path;
};
