#include "history/CsvExport.h"

#include "platform/AbortScope.h"

#include <QDir>
#include <QFile>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\u3000' || c == u'\u00A0';
}

// Spreadsheets also take the full-width signs for formulas, and skip blanks before them.
bool LooksLikeFormula(const QString& text)
{
    static const QString kFormulaStarts = QStringLiteral("=+-@\uFF1D\uFF0B\uFF0D\uFF20");
    if (text.isEmpty())
        return false;
    if (text.front() == u'\t' || text.front() == u'\r')
        return true;
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text.at(i)))
        ++i;
    return i < text.size() && kFormulaStarts.contains(text.at(i));
}

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

QString CsvField(const QString& text)
{
    QString field = LooksLikeFormula(text) ? QLatin1Char('\'') + text : text;
    if (field.contains(u',') || field.contains(u'"') || field.contains(u'\n') || field.contains(u'\r')) {
        field.replace(QLatin1String("\""), QLatin1String("\"\""));
        field = QLatin1Char('"') + field + QLatin1Char('"');
    }
    return field;
}

bool BuildCsvFile(const QString& path, const CExportTable& table, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Fail(error,
                    QStringLiteral("无法写入文件%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    const int columns = int(table.headings.size());
    QByteArray buffer("\xEF\xBB\xBF");
    const auto addLine = [&](const std::function<QString(int)>& cell) {
        QString line;
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                line += QLatin1Char(',');
            line += CsvField(cell(c));
        }
        line += QLatin1String("\r\n");
        buffer += line.toUtf8();
    };
    addLine([&](int c) { return table.headings.at(c); });
    for (int r = 0; r < table.rowCount; ++r) {
        if ((table.stop && table.stop->load(std::memory_order_relaxed) != 0) || AbortRequested())
            return Fail(error, ExportCancelledText());
        addLine([&](int c) { return table.cellText ? table.cellText(r, c) : QString(); });
        if (buffer.size() >= (1 << 20)) {
            if (file.write(buffer) != buffer.size())
                return Fail(error, QStringLiteral("写入第%1行时出错: %2").arg(r + 1).arg(file.errorString()));
            buffer.clear();
            if (table.progress)
                table.progress(r + 1);
        }
    }
    if (file.write(buffer) != buffer.size() || !file.flush())
        return Fail(error, QStringLiteral("写入文件时出错: %1").arg(file.errorString()));
    file.close();
    if (file.error() != QFileDevice::NoError)
        return Fail(error, QStringLiteral("保存文件时出错: %1").arg(file.errorString()));
    if (table.progress)
        table.progress(table.rowCount);
    return true;
}
