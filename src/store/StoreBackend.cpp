#include "store/StoreBackend.h"

#include "platform/Log.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// The statement's verb and table, for the log: never its values (passwords, greetings).
QString StatementHead(const QString& sql)
{
    const QStringList words = sql.simplified().split(QLatin1Char(' '));
    qsizetype count = qMin<qsizetype>(3, words.size());
    if (!words.isEmpty() && words[0].compare(QLatin1String("select"), Qt::CaseInsensitive) == 0) {
        const qsizetype from = words.indexOf(QStringLiteral("from"));
        count = from >= 0 ? qMin(words.size(), from + 2) : 1;
    }
    QString head = words.mid(0, count).join(QLatin1Char(' '));
    const qsizetype paren = head.indexOf(QLatin1Char('('));
    return (paren >= 0 ? head.left(paren) : head).left(80);
}

} // namespace

void LogStatementFailure(const QString& sql, QString message)
{
    // Both stores quote the text near a syntax error, which may be part of a value;
    // PostgreSQL's further lines name the values of a key.
    static const QRegularExpression nearText(QStringLiteral("near \"[^\"]*\""));
    message = message.section(QLatin1Char('\n'), 0, 0);
    message.replace(nearText, QStringLiteral("near \"...\""));
    qCWarning(LogStore).noquote() << "statement failed:" << StatementHead(sql) << "-" << message;
}

bool CStoreBackend::RunChain(const QString& first, const std::function<QString(int, int)>& next, QList<int>* changes,
                             const std::function<int(const QString&)>& run)
{
    int done = 0;
    for (QString sql = first; !sql.isEmpty();) {
        const int changed = run(sql);
        ++done;
        if (changed < 0)
            return false;
        if (changes)
            changes->append(changed);
        sql = next ? next(done, changed) : QString();
    }
    return true;
}

bool CStoreBackend::ExecuteChain(const QString& first, const std::function<QString(int, int)>& next,
                                 QList<int>* changes)
{
    if (changes)
        changes->clear();
    // The thread's own session: a session lost midway fails the next statement, and the server rolls back.
    if (ExecuteChanges(QStringLiteral("begin")) < 0)
        return false;
    if (RunChain(first, next, changes, [this](const QString& sql) { return ExecuteChanges(sql); }) &&
        ExecuteChanges(QStringLiteral("commit")) >= 0)
        return true;
    ExecuteChanges(QStringLiteral("rollback"));
    if (changes)
        changes->clear();
    return false;
}

bool CStoreBackend::DeleteWhere(const QString& table, const QString& condition)
{
    return ExecuteChanges(QStringLiteral("delete from %1 where %2").arg(table, condition)) >= 0;
}
