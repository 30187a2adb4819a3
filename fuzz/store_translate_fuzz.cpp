// Fuzzes the statement translation of the store (#date# literals outside
// quotes and brackets become text literals) and the quoting of text values.
// Input: any bytes, read as UTF-8 and again as Latin-1.
#include "store/SqlText.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

struct CScan
{
    bool endsQuoted = false;  // the text ends inside quotes or brackets
    bool hasDatePair = false; // a '#' outside them with another '#' after it
};

// The same reading of quotes and brackets the translation uses.
CScan Scan(const QString& sql)
{
    CScan scan;
    QChar closing;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!closing.isNull()) {
            if (c == closing)
                closing = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"'))
            closing = c;
        else if (c == QLatin1Char('['))
            closing = QLatin1Char(']');
        else if (c == QLatin1Char('#')) {
            // A date literal runs to the next '#', whatever it holds.
            const qsizetype end = sql.indexOf(QLatin1Char('#'), i + 1);
            if (end > i) {
                scan.hasDatePair = true;
                i = end;
            }
        }
    }
    scan.endsQuoted = !closing.isNull();
    return scan;
}

void FuzzStatement(const QString& sql)
{
    const QString out = TranslateStatement(sql);
    const CScan in = Scan(sql);
    // Nothing to translate: the statement stays exactly as written.
    if (!in.hasDatePair)
        Check(out == sql);
    // A literal is inserted whole: quoting ends where it ended before.
    Check(Scan(out).endsQuoted == in.endsQuoted);
    // Translated text has no date literal left to translate.
    Check(TranslateStatement(out) == out);
}

void FuzzTextValue(const QString& value)
{
    // A quoted value is one literal: scanning "'<value>'" ends outside the quotes
    // and the value comes back by undoubling.
    const QString quoted = SqlText(value);
    const QString literal = QLatin1Char('\'') + quoted + QLatin1Char('\'');
    Check(!Scan(literal).endsQuoted);
    Check(QString(quoted).replace(QLatin1String("''"), QLatin1String("'")) == value);
    // Date look-alikes inside it are never touched.
    Check(TranslateStatement(QStringLiteral("select ") + literal) == QStringLiteral("select ") + literal);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const char* text = reinterpret_cast<const char*>(data);
    const QString utf8 = QString::fromUtf8(text, qsizetype(size));
    const QString latin1 = QString::fromLatin1(text, qsizetype(size));
    FuzzStatement(utf8);
    FuzzStatement(latin1);
    FuzzTextValue(utf8);
    return 0;
}
