#include "net/WaitInfoReply.h"

#include <QDateTime>
#include <QStringList>

namespace {

const QLatin1String kOk("+OK");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kRecordEnd = QStringLiteral("#||#|##|");
const QString kFieldEnd = QStringLiteral("#||#");
constexpr int kRecordFields = 4;

// A whole decimal number of digits only, else -1.
qint64 NumberOf(QStringView text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    return text.toLongLong();
}

CWaitInfoReply Malformed(const QString& problem)
{
    CWaitInfoReply reply;
    reply.kind = EWaitReply::Malformed;
    reply.problem = problem;
    return reply;
}

bool ParseRecord(QStringView line, CWaitRecord& record)
{
    if (!line.endsWith(kRecordEnd))
        return false;
    const QList<QStringView> fields = line.chopped(kRecordEnd.size()).split(kFieldEnd);
    if (fields.size() != kRecordFields)
        return false;
    record.seq = NumberOf(fields[0]);
    record.ip = fields[1].toString();
    record.itemUrl = fields[2].toString();
    record.time = fields[3].toString();
    return record.seq > 0 && QDateTime::fromString(record.time, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid();
}

} // namespace

CWaitInfoReply ParseWaitInfoReply(const QString& reply, qint64 after)
{
    if (!reply.contains(kOk)) {
        CWaitInfoReply refused;
        refused.kind = EWaitReply::Refused;
        refused.problem =
            reply.startsWith(QLatin1String("-ERR")) ? QStringLiteral("-ERR") : QStringLiteral("no +OK in the reply");
        return refused;
    }
    QList<QStringView> lines = QStringView(reply).split(kLineEnd);
    // A closing line end is no record.
    while (lines.size() > 1 && lines.back().isEmpty())
        lines.pop_back();
    if (!lines[0].startsWith(QLatin1String("+OK ")))
        return Malformed(QStringLiteral("the reply does not begin with +OK and a number"));
    const qint64 latest = NumberOf(lines[0].sliced(4));
    if (latest < 0)
        return Malformed(QStringLiteral("no number after +OK"));
    if (after < 0 && lines.size() > 1)
        return Malformed(QStringLiteral("records where only the latest number was asked for"));

    CWaitInfoReply parsed;
    parsed.kind = EWaitReply::Views;
    qint64 previous = after;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        CWaitRecord record;
        if (!ParseRecord(lines[i], record))
            return Malformed(QStringLiteral("record %1 does not parse").arg(i));
        // A number at or below the last one would record a view twice.
        if (record.seq <= previous)
            return Malformed(
                QStringLiteral("record %1 does not count up (%2 after %3)").arg(i).arg(record.seq).arg(previous));
        previous = record.seq;
        parsed.records.push_back(std::move(record));
    }
    if (!parsed.records.empty() && latest < parsed.records.back().seq)
        return Malformed(QStringLiteral("+OK %1 below the last record %2").arg(latest).arg(parsed.records.back().seq));
    // With more views than one reply holds the rest come at the next ask, right after the last record.
    parsed.next = parsed.records.empty() ? latest : parsed.records.back().seq;
    return parsed;
}
