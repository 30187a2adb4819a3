#pragma once
// Writes a table of texts as one sheet of a new .xlsx workbook. Used by the
// history page on the window's thread; holds no state between calls.
//
// Every cell is written as a string (never a number or a formula), so a
// visitor name such as "=1+2" or an id such as "0012" reads back exactly as
// the list showed it. The workbook is built in a hidden file beside the
// target and renamed into place only when complete, so a failed export never
// leaves a half-written file under the chosen name, and an overwritten file
// keeps nothing of its old sheets.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

// What to write: the heading row, then rowCount rows read cell by cell, so a
// long list is not copied first.
struct CExportTable
{
    QStringList headings;
    int rowCount = 0;
    std::function<QString(int row, int column)> cellText;
    // Optional, preferred when set: the same text as UTF-8, valid until the next call.
    std::function<std::string_view(int row, int column)> cellUtf8;
    // Optional: told the number of rows written so far (from the writing thread);
    // a raised stop ends the writing with an error.
    std::function<void(int rowsDone)> progress;
    const std::atomic<int>* stop = nullptr;
};

// The steps of a safe write, for an export that builds on a worker and puts
// the file in place on the window's thread (where a cancel is decided):
// a hidden file beside the target (same file system), built, then renamed
// over the target in one step. Empty result / false on failure, with error set;
// a failed step leaves no hidden file behind.
QString ReserveExportTempFile(const QString& path, QString* error);
bool BuildXlsxFile(const QString& tempPath, const QString& sheetName, const CExportTable& table, QString* error);
bool ReplaceWithTempFile(const QString& tempPath, const QString& path, QString* error);

// Writes the table to path as the only sheet sheetName. Parent folders are
// created. On failure returns false and, when error is given, a text that says
// what failed (in the owner's language, with the system's reason).
bool WriteXlsxWorkbook(const QString& path, const QString& sheetName, const CExportTable& table,
                       QString* error = nullptr);

// Text of the error a raised stop gives.
QString ExportCancelledText();

// "%04d%02d%02d%02d%02d%02d.xlsx" of the given local time.
QString DefaultExportFileName(const QDateTime& localTime);

// The longest text one cell takes; longer texts are cut at a whole character.
constexpr int kMaxCellChars = 32767;
