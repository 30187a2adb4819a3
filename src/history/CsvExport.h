#pragma once
// The list as comma-separated text, for spreadsheet programs without xlsx:
// UTF-8 with a byte-order mark (so they read Chinese as Chinese), every field
// quoted where it must be, lines ended by CR LF. A cell that a spreadsheet
// would take for a formula (starting with = + - @ or their full-width forms,
// after any blanks, or with a tab or a CR) gets a
// leading apostrophe, so it shows as the text the list showed, as in the
// xlsx, where every cell is text. Any thread; no state.
#include "history/XlsxExport.h"

// Writes the heading row and the rows to the file at path (the hidden file of
// ReserveExportTempFile); false with error set on failure or stop.
bool BuildCsvFile(const QString& path, const CExportTable& table, QString* error);
// One field as written: neutralised, then quoted when needed.
QString CsvField(const QString& text);
