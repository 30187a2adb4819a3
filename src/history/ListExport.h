#pragma once
// "导出列表到Excel": writes what a list view shows (its visible columns and
// rows in the order on screen, so after any sort) to a workbook the owner
// names. Window's thread only; reports through ShowMessageBox.
#include <QString>
#include <QStringList>

#include <functional>

class QTableView;
class QWidget;

// Asks for the file to write; an empty result means the owner cancelled.
// The default shows a save dialog; tests replace it so nothing blocks.
using SaveFilePrompt = std::function<QString(QWidget* parent, const QString& title, const QString& defaultName,
                                             const QStringList& filters)>;
// Returns the prompt that was installed before (an empty function selects the default).
SaveFilePrompt SetSaveFilePrompt(SaveFilePrompt prompt);

// An empty list exports nothing and shows nothing.
void ExportListToExcel(QWidget* parent, const QTableView* list, const QString& sheetName);
