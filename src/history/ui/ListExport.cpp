#include "history/ui/ListExport.h"

#include "controls/ui/SortListCtrl.h"
#include "history/CsvExport.h"
#include "history/XlsxExport.h"
#include "platform/AbortScope.h"
#include "platform/MessageBox.h"
#include "platform/OneShot.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLoggingCategory>
#include <QPointer>

#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <mutex>

Q_LOGGING_CATEGORY(lcListExport, "mirel.history.export")

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
    // The chosen filter decides the default ending of a name typed without one.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.contains(QLatin1String("*.csv")) ? QStringLiteral("csv")
                                                                        : QStringLiteral("xlsx"));
    });
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

namespace {

// What the worker and the window share about one export.
struct CExportState
{
    std::atomic<int> stop{0};
    std::atomic<int> rowsDone{0};
    bool ok = false; // written by the worker before it reports
    QString error;
    QString tempPath;
    // Whoever comes last of the worker's end and the job's end removes a
    // hidden file that never went into place.
    std::mutex lock;
    bool built = false;
    bool abandoned = false;
};

// Lives as the parent's child while the export runs; gone with the parent,
// it stops the worker and its hidden file is removed.
class CExportJob : public QObject
{
public:
    CExportJob(QObject* parent, std::shared_ptr<CExportState> state) : QObject(parent), m_state(std::move(state)) {}
    ~CExportJob() override
    {
        m_state->stop.store(1);
        std::lock_guard guard(m_state->lock);
        m_state->abandoned = true;
        if (m_state->built && !m_state->tempPath.isEmpty())
            QFile::remove(m_state->tempPath);
    }
    COneShot m_work;

private:
    std::shared_ptr<CExportState> m_state;
};

void Finish(QWidget* parent, const QString& path, CExportState& state, bool cancelled)
{
    const QString tempPath = state.tempPath;
    {
        // From here on the window decides about the hidden file.
        std::lock_guard guard(state.lock);
        state.tempPath.clear();
    }
    if (cancelled) {
        QFile::remove(tempPath);
        qCInfo(lcListExport) << "export cancelled, nothing written:" << path;
        return;
    }
    QString error = state.error;
    if (!state.ok)
        QFile::remove(tempPath);
    if (!state.ok || !ReplaceWithTempFile(tempPath, path, &error)) {
        qCWarning(lcListExport) << "export failed:" << path << error;
        ShowMessageBox(QStringLiteral("导出失败!\n%1").arg(error), AppTitle(), EMsgIcon::Error);
        return;
    }
    Q_UNUSED(parent);
    ShowMessageBox(QStringLiteral("导出文件保存于%1!").arg(QDir::toNativeSeparators(path)), AppTitle(),
                   EMsgIcon::Information);
}

} // namespace

void ExportListToExcel(QWidget* parent, CSortListCtrl* list, const QString& sheetName)
{
    if (!list)
        return;
    CListRows rows = list->Rows();
    const QList<int> columns = ShownSections(list->horizontalHeader(), list->GetColumnCount());
    if (rows.RowCount() <= 0 || columns.isEmpty())
        return;

    const QString defaultName = DefaultExportFileName(QDateTime::currentDateTime());
    const QStringList filters = {QStringLiteral("Excel文件(*.xlsx)"), QStringLiteral("CSV文件(*.csv)"),
                                 QStringLiteral("所有文件(*.*)")};
    const SaveFilePrompt prompt = g_savePrompt ? g_savePrompt : SaveFilePrompt(AskWithSaveDialog);
    const QString path = prompt(parent, QStringLiteral("导出"), defaultName, filters);
    if (path.isEmpty())
        return;
    const QFileInfo target(path);
    if (target.exists() && !target.isDir() &&
        ShowMessageBox(QStringLiteral("%1已存在.\n要替换它吗?").arg(target.fileName()), QStringLiteral("导出"),
                       EMsgIcon::Exclamation, EMsgButtons::YesNo) != kIdYes)
        return;
    QString error;
    const QString tempPath = ReserveExportTempFile(path, &error);
    if (tempPath.isEmpty()) {
        qCWarning(lcListExport) << "export failed:" << path << error;
        ShowMessageBox(QStringLiteral("导出失败!\n%1").arg(error), AppTitle(), EMsgIcon::Error);
        return;
    }

    auto state = std::make_shared<CExportState>();
    auto* job = new CExportJob(parent, state);
    job->setObjectName(QStringLiteral("listExportJob"));
    const int total = int(rows.RowCount());
    auto* progress =
        new QProgressDialog(QStringLiteral("正在导出......0/%1").arg(total), QStringLiteral("取消"), 0, total, parent);
    progress->setObjectName(QStringLiteral("exportProgressDialog"));
    progress->setWindowTitle(QStringLiteral("导出"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(300);
    QObject::connect(job, &QObject::destroyed, progress, &QObject::deleteLater);
    QObject::connect(progress, &QProgressDialog::canceled, job, [state] { state->stop.store(1); });
    auto* timer = new QTimer(job);
    QObject::connect(timer, &QTimer::timeout, progress, [progress, state, total] {
        const int done = state->rowsDone.load();
        progress->setLabelText(QStringLiteral("正在导出......%1/%2").arg(done).arg(total));
        progress->setValue(std::min(done, total));
    });
    timer->start(100);

    CExportTable table;
    for (const int column : columns)
        table.headings << list->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    table.rowCount = total;
    table.stop = &state->stop;
    table.progress = [state](int done) { state->rowsDone.store(done); };
    const bool csv = target.suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;

    state->tempPath = tempPath;
    job->m_work = RunThenCallback(
        job,
        [=, table = std::move(table)]() mutable {
            // Let go when the file is built, not whenever the job is discarded.
            const CListRows shown = std::move(rows);
            table.cellText = [&shown, &columns](int row, int column) { return shown.Text(row, columns.at(column)); };
            table.cellUtf8 = [&shown, &columns](int row, int column) { return shown.Utf8(row, columns.at(column)); };
            QString buildError;
            const bool ok = csv ? BuildCsvFile(tempPath, table, &buildError)
                                : BuildXlsxFile(tempPath, sheetName, table, &buildError);
            std::lock_guard guard(state->lock);
            state->ok = ok;
            state->error = buildError;
            state->built = true;
            // Nobody is left to put the file in place (the page closed, or the program is ending).
            if (state->abandoned || AbortRequested())
                QFile::remove(tempPath);
        },
        // The file is put in place (or not) on the window's thread, where a
        // cancel is decided: a cancel seen there always wins.
        [job, parent, path, state] {
            Finish(parent, path, *state, state->stop.load() != 0);
            job->setObjectName(QString());
            job->deleteLater();
        });
}
