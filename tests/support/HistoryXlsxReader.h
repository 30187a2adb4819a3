#pragma once
// Reads back an .xlsx written by the export with tools that share nothing
// with the writer: the unzip program for the container and Qt's XML reader
// for the sheet, shared strings, workbook and styles parts.
#include <QList>
#include <QString>
#include <QStringList>

struct CXlsxCell
{
    bool present = false;    // a <c> element exists for this position
    QString type;            // the t attribute: "s", "inlineStr", "str", "n", "b", ... or empty
    QString text;            // the string value (shared string resolved), or the raw <v>
    bool hasValue = false;   // <v> or <is> present
    bool hasFormula = false; // <f> present
    QString numberFormat;    // format code of the cell's style ("@" for Text, "General" for none)

    bool IsText() const { return type == QLatin1String("s") || type == QLatin1String("inlineStr"); }
};

struct CXlsxBook
{
    QStringList entries;          // names in the zip container
    QStringList sheetNames;       // in workbook order
    QList<QList<CXlsxCell>> rows; // first sheet, a full grid by cell reference
};

// Unpacks one entry with "unzip -p"; false when unzip fails or the entry is missing.
bool UnzipEntry(const QString& zipPath, const QString& entry, QByteArray& data);
// Reads the workbook; on failure returns false with a reason in error.
bool ReadXlsxBook(const QString& path, CXlsxBook& book, QString* error = nullptr);
// The texts of one row of the grid (empty texts for cells without a value).
QStringList XlsxRowTexts(const CXlsxBook& book, int row);
