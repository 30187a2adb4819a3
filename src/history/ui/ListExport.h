#pragma once
// "导出列表到Excel": writes what a list shows (its visible columns and rows in
// the order on screen, so after any sort) to a workbook or, when the owner
// names a .csv file, to comma-separated text. The writing runs on a worker
// behind a progress dialog (rows done of all, "取消"); the file appears only
// when complete and not cancelled, never half-written in place of the old one.
// Started on the window's thread; reports through ShowMessageBox.
#include <QString>
#include <QStringList>

#include <functional>

class CSortListCtrl;
class QWidget;

// Asks for the file to write; an empty result means the owner cancelled.
// The default shows a save dialog; tests replace it so nothing blocks.
using SaveFilePrompt = std::function<QString(QWidget* parent, const QString& title, const QString& defaultName,
                                             const QStringList& filters)>;
// Returns the prompt that was installed before (an empty function selects the default).
SaveFilePrompt SetSaveFilePrompt(SaveFilePrompt prompt);

// Returns once the writing has started (or at once when nothing is written).
// An empty list exports nothing and shows nothing. While it runs, parent has a
// child object named "listExportJob" and the progress dialog "exportProgressDialog".
void ExportListToExcel(QWidget* parent, CSortListCtrl* list, const QString& sheetName);
