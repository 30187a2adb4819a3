#include "store/SqlText.h"

// The store's date text form, which Variant.h (values only, nothing of the connection) owns.
#include "store/Variant.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// Jet also reads month/day/year; everything else the store keeps as written.
QString NormaliseDateLiteral(const QString& content)
{
    double date = 0;
    if (DateFromText(content, date))
        return FormatDateTime(date);
    static const QRegularExpression us(QStringLiteral("^\\s*(\\d{1,2})/(\\d{1,2})/(\\d{4})(\\s+.*)?$"));
    const QRegularExpressionMatch m = us.match(content);
    if (m.hasMatch()) {
        const QString iso =
            m.captured(3) + QLatin1Char('-') + m.captured(1) + QLatin1Char('-') + m.captured(2) + m.captured(4);
        if (DateFromText(iso, date))
            return FormatDateTime(date);
    }
    return content;
}

bool IsWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// SQLite-only words the program uses, and what PostgreSQL calls them.
QString MappedWord(const QString& word, const QString& previous, bool conditionEnds, bool& likeFollows)
{
    const QString lower = word.toLower();
    likeFollows = false;
    if (lower == QLatin1String("like")) {
        likeFollows = true;
        return QStringLiteral("ilike");
    }
    if (lower == QLatin1String("ifnull"))
        return QStringLiteral("coalesce");
    if (lower == QLatin1String("json_each"))
        return QStringLiteral("mirel_id_list");
    // "where 0" alone, not "where 0 = 1".
    if (previous == QLatin1String("where") && conditionEnds &&
        (word == QLatin1String("0") || word == QLatin1String("1")))
        return word == QLatin1String("0") ? QStringLiteral("false") : QStringLiteral("true");
    return word;
}

qsizetype NextNonBlank(const QString& text, qsizetype from)
{
    while (from < text.size() && text[from].isSpace())
        ++from;
    return from;
}

} // namespace

QString SqlText(const QString& value)
{
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return doubled;
}

QString SqlNumberList(const QList<qint64>& numbers)
{
    QStringList texts;
    texts.reserve(numbers.size());
    for (qint64 number : numbers)
        texts.append(QString::number(number));
    return texts.join(QLatin1Char(','));
}

QString TranslateStatement(const QString& sql)
{
    if (!sql.contains(QLatin1Char('#')))
        return sql;
    QString out;
    out.reserve(sql.size() + 8);
    QChar closing; // the character that ends the quoted text or bracketed name we are in
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!closing.isNull()) {
            out += c;
            if (c == closing)
                closing = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            closing = c;
        } else if (c == QLatin1Char('[')) {
            closing = QLatin1Char(']');
        } else if (c == QLatin1Char('#')) {
            const qsizetype end = sql.indexOf(QLatin1Char('#'), i + 1);
            if (end > i) {
                out +=
                    QLatin1Char('\'') + SqlText(NormaliseDateLiteral(sql.mid(i + 1, end - i - 1))) + QLatin1Char('\'');
                i = end;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString TranslateForTeam(const QString& sql)
{
    const QString in = TranslateStatement(sql);
    QString out;
    out.reserve(in.size() + 32);
    QString previous; // the last word outside quotes, lower-case
    bool likePending = false;
    for (qsizetype i = 0; i < in.size();) {
        const QChar c = in[i];
        if (c == QLatin1Char('\'')) {
            // Doubled quotes inside read as a close and an open: copied either way.
            const qsizetype end = in.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype stop = end < 0 ? in.size() : end + 1;
            out += QStringView(in).mid(i, stop - i);
            i = stop;
            const qsizetype next = NextNonBlank(in, i);
            if (likePending && (next >= in.size() || in[next] != QLatin1Char('\'')) &&
                !(next < in.size() && in[next] == QLatin1Char('|'))) {
                out += QStringLiteral(" escape '' ");
                likePending = false;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            const qsizetype end = in.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype stop = end < 0 ? in.size() : end + 1;
            out += QStringView(in).mid(i, stop - i);
            i = stop;
            likePending = false;
            continue;
        }
        if (c == QLatin1Char('[')) {
            const qsizetype end = in.indexOf(QLatin1Char(']'), i + 1);
            const qsizetype stop = end < 0 ? in.size() : end;
            QString name = in.mid(i + 1, stop - i - 1).toLower();
            name.replace(QLatin1Char('"'), QLatin1String("\"\""));
            out += QLatin1Char('"') + name + QLatin1Char('"');
            i = end < 0 ? in.size() : end + 1;
            previous = name;
            likePending = false;
            continue;
        }
        if (IsWordChar(c)) {
            qsizetype end = i;
            while (end < in.size() && IsWordChar(in[end]))
                ++end;
            const QString word = in.mid(i, end - i);
            // A name after a dot is a column, never a keyword.
            const bool qualified = i > 0 && in[i - 1] == QLatin1Char('.');
            bool like = false;
            const qsizetype next = NextNonBlank(in, end);
            const bool conditionEnds = next >= in.size() || in[next].isLetter() || in[next] == QLatin1Char(')') ||
                                       in[next] == QLatin1Char(';');
            out += qualified ? word : MappedWord(word, previous, conditionEnds, like);
            likePending = like;
            previous = word.toLower();
            i = end;
            continue;
        }
        if (!c.isSpace())
            likePending = false;
        out += c;
        ++i;
    }
    static const QRegularExpression clientInsert(QStringLiteral("^\\s*insert\\s+into\\s+\"client\"\\s*\\("),
                                                 QRegularExpression::CaseInsensitiveOption);
    if (clientInsert.match(out).hasMatch()) {
        // Another machine may have recorded the visitor first: nothing to do then.
        while (out.endsWith(QLatin1Char(';')) || (!out.isEmpty() && out.back().isSpace()))
            out.chop(1);
        out += QStringLiteral(" on conflict do nothing");
    }
    return out;
}
