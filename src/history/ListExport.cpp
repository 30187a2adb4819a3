#include "history/ListExport.h"

#include "history/XlsxExport.h"
#include "platform/MessageBox.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QStandardPaths>
#include <QTableView>

namespace {

SaveFilePrompt g_savePrompt;

QString AskWithSaveDialog(QWidget* parent, const QString& title, const QString& defaultName, const QStringList& filters)
{
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    // The export asks about overwriting itself, once, whoever chose the name.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    dialog.setDirectory(folder);
    dialog.selectFile(defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

// Logical indexes of the sections the header shows, in the order on screen.
QList<int> ShownSections(const QHeaderView* header, int count)
{
    QList<int> sections;
    sections.reserve(count);
    for (int visual = 0; visual < count; ++visual) {
        const int logical = header ? header->logicalIndex(visual) : visual;
        if (logical >= 0 && !(header && header->isSectionHidden(logical)))
            sections << logical;
    }
    return sections;
}

} // namespace

SaveFilePrompt SetSaveFilePrompt(SaveFilePrompt prompt)
{
    std::swap(g_savePrompt, prompt);
    return prompt;
}

void ExportListToExcel(QWidget* parent, const QTableView* list, const QString& sheetName)
{
    const QAbstractItemModel* model = list ? list->model() : nullptr;
    if (!model || model->rowCount() <= 0)
        return;
    const QList<int> columns = ShownSections(list->horizontalHeader(), model->columnCount());
    const QList<int> rows = ShownSections(list->verticalHeader(), model->rowCount());
    if (rows.isEmpty() || columns.isEmpty())
        return;

    const QString defaultName = DefaultExportFileName(QDateTime::currentDateTime());
    const QStringList filters = {QStringLiteral("Excel文件(*.xlsx)"), QStringLiteral("所有文件(*.*)")};
    const SaveFilePrompt prompt = g_savePrompt ? g_savePrompt : SaveFilePrompt(AskWithSaveDialog);
    const QString path = prompt(parent, QStringLiteral("导出"), defaultName, filters);
    if (path.isEmpty())
        return;
    const QFileInfo target(path);
    if (target.exists() && !target.isDir() &&
        ShowMessageBox(QStringLiteral("%1 已存在。\n要替换它吗?").arg(target.fileName()), QStringLiteral("导出"),
                       EMsgIcon::Exclamation, EMsgButtons::YesNo) != kIdYes)
        return;

    CExportTable table;
    for (const int column : columns)
        table.headings << model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    table.rowCount = int(rows.size());
    table.cellText = [model, &rows, &columns](int row, int column) {
        return model->index(rows.at(row), columns.at(column)).data(Qt::DisplayRole).toString();
    };
    QString error;
    if (!WriteXlsxWorkbook(path, sheetName, table, &error)) {
        ShowMessageBox(QStringLiteral("导出失败!\n%1").arg(error), AppTitle(), EMsgIcon::Error);
        return;
    }
    ShowMessageBox(QStringLiteral("导出文件保存于%1!").arg(QDir::toNativeSeparators(path)), AppTitle(),
                   EMsgIcon::Information);
}
