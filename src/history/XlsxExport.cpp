#include "history/XlsxExport.h"

#include "platform/AbortScope.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace {

// The spreadsheet's own "@" (Text) number format.
constexpr uint8_t kBuiltinTextFormat = 49;

QString SystemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString LibraryReason(lxw_error err)
{
    return QString::fromUtf8(lxw_strerror(err));
}

// Excel refuses longer cell texts; cut without splitting a surrogate pair.
QByteArray CellBytes(const QString& text)
{
    if (text.size() <= kMaxCellChars)
        return text.toUtf8();
    qsizetype n = kMaxCellChars;
    if (text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n).toUtf8();
}

bool Fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

QString ExportCancelledText()
{
    return QStringLiteral("导出已取消");
}

// The library writes the zip only in workbook_close, so every failure before
// that frees the workbook unsaved.
bool BuildXlsxFile(const QString& tempPath, const QString& sheetName, const CExportTable& table, QString* error)
{
    const QString folder = QFileInfo(tempPath).absolutePath();
    const QByteArray fileName = QFile::encodeName(tempPath);
    QByteArray tmpDir = QFile::encodeName(folder);
    lxw_workbook_options options{};
    // Rows go to a scratch file as they are written, so a long list costs
    // little memory; strings are then written inline in each cell.
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpDir.data();
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(fileName.constData(), &options);
    if (!workbook)
        return Fail(error, QStringLiteral("无法创建工作簿(内存不足)"));

    const QByteArray sheet = sheetName.toUtf8();
    lxw_error err = workbook_validate_sheet_name(workbook, sheet.constData());
    lxw_worksheet* worksheet = err == LXW_NO_ERROR ? workbook_add_worksheet(workbook, sheet.constData()) : nullptr;
    if (!worksheet) {
        lxw_workbook_free(workbook);
        return Fail(error,
                    QStringLiteral("工作表名\"%1\"无效: %2")
                        .arg(sheetName, LibraryReason(err == LXW_NO_ERROR ? LXW_ERROR_MEMORY_MALLOC_FAILED : err)));
    }
    // Every column is a text column: a cell left empty stays text too.
    lxw_format* textFormat = workbook_add_format(workbook);
    format_set_num_format_index(textFormat, kBuiltinTextFormat);

    const int columns = int(table.headings.size());
    for (int c = 0; c < columns && err == LXW_NO_ERROR; ++c)
        err =
            worksheet_write_string(worksheet, 0, lxw_col_t(c), CellBytes(table.headings.at(c)).constData(), textFormat);
    int failedRow = 0;
    bool stopped = false;
    std::string cell;
    for (int r = 0; r < table.rowCount && err == LXW_NO_ERROR; ++r) {
        if ((table.stop && table.stop->load(std::memory_order_relaxed) != 0) || AbortRequested()) {
            stopped = true;
            break;
        }
        if (table.progress && r % 1024 == 0)
            table.progress(r);
        for (int c = 0; c < columns && err == LXW_NO_ERROR; ++c) {
            // write_string never interprets its text: "=SUM(A1)" stays a string.
            if (table.cellUtf8) {
                const std::string_view bytes = table.cellUtf8(r, c);
                // Short enough in bytes is short enough in characters; longer texts are cut by character.
                if (bytes.size() <= size_t(kMaxCellChars)) {
                    cell.assign(bytes);
                    err = worksheet_write_string(worksheet, lxw_row_t(r + 1), lxw_col_t(c), cell.c_str(), textFormat);
                    continue;
                }
            }
            const QString text =
                table.cellUtf8 ? QString::fromUtf8(table.cellUtf8(r, c).data(), qsizetype(table.cellUtf8(r, c).size()))
                : table.cellText ? table.cellText(r, c)
                                 : QString();
            err = worksheet_write_string(worksheet, lxw_row_t(r + 1), lxw_col_t(c), CellBytes(text).constData(),
                                         textFormat);
        }
        if (err != LXW_NO_ERROR)
            failedRow = r + 1;
    }
    if (stopped) {
        lxw_workbook_free(workbook);
        return Fail(error, ExportCancelledText());
    }
    if (table.progress)
        table.progress(table.rowCount);
    if (err != LXW_NO_ERROR) {
        lxw_workbook_free(workbook);
        if (failedRow > 0)
            return Fail(error, QStringLiteral("写入第%1行时出错:%2").arg(failedRow).arg(LibraryReason(err)));
        return Fail(error, QStringLiteral("写入标题行时出错:%1").arg(LibraryReason(err)));
    }
    errno = 0;
    err = workbook_close(workbook);
    if (err != LXW_NO_ERROR) {
        const int sysErr = errno;
        QString reason = LibraryReason(err);
        if (sysErr != 0)
            reason += QStringLiteral(" (%1)").arg(SystemReason(sysErr));
        return Fail(error, QStringLiteral("保存工作簿时出错:%1").arg(reason));
    }
    return true;
}

QString ReserveExportTempFile(const QString& path, QString* error)
{
    if (path.isEmpty()) {
        Fail(error, QStringLiteral("没有指定文件名"));
        return QString();
    }
    const QFileInfo target(path);
    if (target.isDir()) {
        Fail(error, QStringLiteral("%1是一个文件夹").arg(QDir::toNativeSeparators(path)));
        return QString();
    }
    const QString folder = target.absolutePath();
    if (!QDir().mkpath(folder)) {
        Fail(error, QStringLiteral("无法创建文件夹%1").arg(QDir::toNativeSeparators(folder)));
        return QString();
    }
    // A hidden name beside the target: same file system, so the rename is atomic.
    QTemporaryFile reserve(folder + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
    reserve.setAutoRemove(false);
    if (!reserve.open()) {
        Fail(
            error,
            QStringLiteral("无法在文件夹%1中创建文件:%2").arg(QDir::toNativeSeparators(folder), reserve.errorString()));
        return QString();
    }
    return reserve.fileName();
}

bool ReplaceWithTempFile(const QString& tempPath, const QString& path, QString* error)
{
    const bool existed = QFileInfo::exists(path);
    // The hidden file was made 0600; the export gets the mode a file the owner
    // saves normally would: the old file's, or the umask's.
    const QByteArray tempName = QFile::encodeName(tempPath);
    if (existed)
        QFile::setPermissions(tempPath, QFile::permissions(path));
    else
        ::chmod(tempName.constData(), UmaskFileMode());
    // rename() replaces an existing file in one step: readers see the old
    // file or the new one, never a mixture.
    if (std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(path).constData()) != 0) {
        const int sysErr = errno;
        QFile::remove(tempPath);
        if (existed)
            return Fail(
                error,
                QStringLiteral("覆盖文件时出错!\n%1:%2").arg(QDir::toNativeSeparators(path), SystemReason(sysErr)));
        return Fail(error,
                    QStringLiteral("无法保存文件%1:%2").arg(QDir::toNativeSeparators(path), SystemReason(sysErr)));
    }
    return true;
}

bool WriteXlsxWorkbook(const QString& path, const QString& sheetName, const CExportTable& table, QString* error)
{
    const QString tempPath = ReserveExportTempFile(path, error);
    if (tempPath.isEmpty())
        return false;
    if (!BuildXlsxFile(tempPath, sheetName, table, error)) {
        QFile::remove(tempPath);
        return false;
    }
    return ReplaceWithTempFile(tempPath, path, error);
}

QString DefaultExportFileName(const QDateTime& localTime)
{
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return QString::asprintf("%04d%02d%02d%02d%02d%02d.xlsx", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second());
}
