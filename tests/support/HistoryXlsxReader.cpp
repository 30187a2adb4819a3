#include "HistoryXlsxReader.h"

#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

bool RunUnzip(const QStringList& args, QByteArray& out)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), args);
    if (!unzip.waitForStarted(10000))
        return false;
    unzip.closeWriteChannel();
    if (!unzip.waitForFinished(60000))
        return false;
    out = unzip.readAllStandardOutput();
    return unzip.exitStatus() == QProcess::NormalExit && unzip.exitCode() == 0;
}

// "AB12" -> column 27, row 11 (both from 0).
bool ParseRef(const QString& ref, int& row, int& col)
{
    static const QRegularExpression re(QStringLiteral("^([A-Z]+)([0-9]+)$"));
    const auto m = re.match(ref);
    if (!m.hasMatch())
        return false;
    col = 0;
    for (const QChar ch : m.captured(1))
        col = col * 26 + (ch.unicode() - 'A' + 1);
    col -= 1;
    row = m.captured(2).toInt() - 1;
    return row >= 0 && col >= 0;
}

// Text of an element that may hold runs (<r><t>..</t></r>) or one <t>;
// the reader stands on the element's start and ends on its end.
QString ReadStringItem(QXmlStreamReader& xml)
{
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == QLatin1String("t"))
                text += xml.readElementText();
            else
                ++depth;
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return text;
}

QStringList ReadSharedStrings(const QByteArray& data)
{
    QStringList strings;
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("si"))
            strings << ReadStringItem(xml);
    }
    return strings;
}

// Style index -> number format code.
QStringList ReadStyleFormats(const QByteArray& data)
{
    QHash<int, QString> custom;
    QStringList formats;
    QXmlStreamReader xml(data);
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == QLatin1String("numFmt"))
                custom.insert(xml.attributes().value(QStringLiteral("numFmtId")).toInt(),
                              xml.attributes().value(QStringLiteral("formatCode")).toString());
            else if (xml.name() == QLatin1String("cellXfs"))
                inCellXfs = true;
            else if (inCellXfs && xml.name() == QLatin1String("xf")) {
                const int id = xml.attributes().value(QStringLiteral("numFmtId")).toInt();
                if (custom.contains(id))
                    formats << custom.value(id);
                else if (id == 49)
                    formats << QStringLiteral("@");
                else if (id == 0)
                    formats << QStringLiteral("General");
                else
                    formats << QStringLiteral("builtin:%1").arg(id);
            }
        } else if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = false;
        }
    }
    return formats;
}

} // namespace

bool UnzipEntry(const QString& zipPath, const QString& entry, QByteArray& data)
{
    return RunUnzip({QStringLiteral("-p"), zipPath, entry}, data) && !data.isEmpty();
}

bool ReadXlsxBook(const QString& path, CXlsxBook& book, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    book = CXlsxBook();
    QByteArray listing;
    if (!RunUnzip({QStringLiteral("-Z1"), path}, listing))
        return fail(QStringLiteral("unzip cannot list ") + path);
    book.entries = QString::fromUtf8(listing).split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    QByteArray workbook, sheet, shared, styles;
    if (!UnzipEntry(path, QStringLiteral("xl/workbook.xml"), workbook))
        return fail(QStringLiteral("no xl/workbook.xml"));
    {
        QXmlStreamReader xml(workbook);
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("sheet"))
                book.sheetNames << xml.attributes().value(QStringLiteral("name")).toString();
        }
        if (xml.hasError())
            return fail(QStringLiteral("workbook.xml: ") + xml.errorString());
    }
    if (!UnzipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml"), sheet))
        return fail(QStringLiteral("no xl/worksheets/sheet1.xml"));
    QStringList strings;
    if (book.entries.contains(QStringLiteral("xl/sharedStrings.xml"))) {
        if (!UnzipEntry(path, QStringLiteral("xl/sharedStrings.xml"), shared))
            return fail(QStringLiteral("cannot read xl/sharedStrings.xml"));
        strings = ReadSharedStrings(shared);
    }
    QStringList formats;
    if (UnzipEntry(path, QStringLiteral("xl/styles.xml"), styles))
        formats = ReadStyleFormats(styles);

    QXmlStreamReader xml(sheet);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("c"))
            continue;
        int row = 0, col = 0;
        if (!ParseRef(xml.attributes().value(QStringLiteral("r")).toString(), row, col))
            return fail(QStringLiteral("cell without a usable reference"));
        CXlsxCell cell;
        cell.present = true;
        cell.type = xml.attributes().value(QStringLiteral("t")).toString();
        const int style = xml.attributes().hasAttribute(QStringLiteral("s"))
                              ? xml.attributes().value(QStringLiteral("s")).toInt()
                              : 0;
        cell.numberFormat = style < formats.size() ? formats.at(style) : QStringLiteral("General");
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("v")) {
                cell.hasValue = true;
                cell.text = xml.readElementText();
            } else if (xml.name() == QLatin1String("is")) {
                cell.hasValue = true;
                cell.text = ReadStringItem(xml);
            } else if (xml.name() == QLatin1String("f")) {
                cell.hasFormula = true;
                xml.skipCurrentElement();
            } else {
                xml.skipCurrentElement();
            }
        }
        if (cell.type == QLatin1String("s")) {
            const int index = cell.text.toInt();
            if (index < 0 || index >= strings.size())
                return fail(QStringLiteral("shared string index out of range"));
            cell.text = strings.at(index);
        }
        while (book.rows.size() <= row)
            book.rows.append(QList<CXlsxCell>());
        auto& cells = book.rows[row];
        while (cells.size() <= col)
            cells.append(CXlsxCell());
        cells[col] = cell;
    }
    if (xml.hasError())
        return fail(QStringLiteral("sheet1.xml: ") + xml.errorString());
    // A full grid: cells the sheet leaves out read as absent.
    qsizetype width = 0;
    for (const auto& cells : book.rows)
        width = std::max(width, cells.size());
    for (auto& cells : book.rows) {
        while (cells.size() < width)
            cells.append(CXlsxCell());
    }
    return true;
}

QStringList XlsxRowTexts(const CXlsxBook& book, int row)
{
    QStringList texts;
    if (row < 0 || row >= book.rows.size())
        return texts;
    for (const CXlsxCell& cell : book.rows.at(row))
        texts << cell.text;
    return texts;
}
