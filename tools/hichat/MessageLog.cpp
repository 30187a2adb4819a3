#include "MessageLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

CMessageLog::CMessageLog(const QString& path) : m_path(path) {}

bool CMessageLog::Append(const QString& sid, const QString& id, const QString& text)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    QJsonObject line;
    line.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    line.insert(QStringLiteral("sid"), sid);
    line.insert(QStringLiteral("id"), id);
    line.insert(QStringLiteral("text"), text);
    QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact);
    bytes.append('\n');
    // One write per line, so a reader never sees half a message.
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    return written;
}

QString CMessageLog::ChoosePath(const QString& fromCommandLine)
{
    if (!fromCommandLine.isEmpty())
        return QFileInfo(fromCommandLine).absoluteFilePath();
    const QString fromEnvironment = qEnvironmentVariable("HICHAT_LOG");
    if (!fromEnvironment.isEmpty())
        return QFileInfo(fromEnvironment).absoluteFilePath();
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/hichat/messages.jsonl");
}
