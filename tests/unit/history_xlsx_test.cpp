#include "support/TestMain.h"

#include "support/HistoryXlsxReader.h"

#include "history/XlsxExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <xlsxwriter.h>

namespace {

const QString kSheet = QStringLiteral("客户列表");

CExportTable MakeTable(const QStringList& headings, const QList<QStringList>& rows)
{
    CExportTable table;
    table.headings = headings;
    table.rowCount = int(rows.size());
    table.cellText = [rows](int r, int c) { return rows.at(r).value(c); };
    return table;
}

QStringList FolderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A workbook with two sheets of another program, to be overwritten.
void WriteForeignWorkbook(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    lxw_workbook* wb = workbook_new(name.constData());
    ASSERT_NE(wb, nullptr);
    lxw_worksheet* a = workbook_add_worksheet(wb, "Old1");
    lxw_worksheet* b = workbook_add_worksheet(wb, "Old2");
    worksheet_write_number(a, 0, 0, 42, nullptr);
    worksheet_write_string(b, 0, 0, "old text", nullptr);
    ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
}

} // namespace

TEST(XlsxExport, HeadingsAndRowsReadBackAsTextInOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.xlsx"));
    const QStringList headings = {QStringLiteral("编号"), QStringLiteral("访客"), QStringLiteral("次数")};
    const QList<QStringList> rows = {{QStringLiteral("12"), QStringLiteral("张三"), QStringLiteral("1")},
                                     {QStringLiteral("7"), QStringLiteral("li'si"), QStringLiteral("30")},
                                     {QStringLiteral("0042"), QStringLiteral("王<五>&"), QStringLiteral("2.50")}};
    QString error;
    ASSERT_TRUE(WriteXlsxWorkbook(path, kSheet, MakeTable(headings, rows), &error)) << error.toStdString();

    CXlsxBook book;
    ASSERT_TRUE(ReadXlsxBook(path, book, &error)) << error.toStdString();
    EXPECT_EQ(book.sheetNames, QStringList{kSheet});
    ASSERT_EQ(book.rows.size(), 4);
    EXPECT_EQ(XlsxRowTexts(book, 0), headings);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(XlsxRowTexts(book, r + 1), rows.at(r)) << "row " << r;
    for (const auto& cells : book.rows) {
        for (const CXlsxCell& cell : cells) {
            EXPECT_TRUE(cell.IsText()) << "cell type " << cell.type.toStdString() << " for " << cell.text.toStdString();
            EXPECT_FALSE(cell.hasFormula);
            EXPECT_EQ(cell.numberFormat, QStringLiteral("@"));
        }
    }
    // A new file is readable by others, like any file the owner saves.
    EXPECT_TRUE(QFileInfo(path).permissions() & QFile::ReadOther);
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("out.xlsx")});
}

// Texts a spreadsheet would otherwise take for numbers or formulas.
class XlsxTextCells : public ::testing::TestWithParam<const char*>
{
};

TEST_P(XlsxTextCells, StayStringsWithoutFormula)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cells.xlsx"));
    const QString text = QString::fromUtf8(GetParam());
    ASSERT_TRUE(WriteXlsxWorkbook(path, kSheet, MakeTable({QStringLiteral("h")}, {{text}})));
    CXlsxBook book;
    ASSERT_TRUE(ReadXlsxBook(path, book));
    ASSERT_EQ(book.rows.size(), 2);
    const CXlsxCell& cell = book.rows.at(1).at(0);
    EXPECT_TRUE(cell.IsText()) << cell.type.toStdString();
    EXPECT_FALSE(cell.hasFormula);
    EXPECT_EQ(cell.text, text);
}

INSTANTIATE_TEST_SUITE_P(NumbersAndFormulas, XlsxTextCells,
                         ::testing::Values("0", "123", "-5", "1e5", "2024-01-02 03:04:05", "=1+2",
                                           "=HYPERLINK(\"http://x\",\"y\")", "+1", "-A1", "@SUM(A1:A2)", " =1",
                                           "TRUE"));

TEST(XlsxExport, EmptyCellsAreTextCellsWithoutValue)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.xlsx"));
    ASSERT_TRUE(WriteXlsxWorkbook(path, kSheet,
                                  MakeTable({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")},
                                            {{QStringLiteral("x"), QString(), QString()}})));
    CXlsxBook book;
    ASSERT_TRUE(ReadXlsxBook(path, book));
    ASSERT_EQ(book.rows.size(), 2);
    ASSERT_EQ(book.rows.at(1).size(), 3);
    for (int c = 1; c < 3; ++c) {
        const CXlsxCell& cell = book.rows.at(1).at(c);
        // The cell is there, holds nothing, is no number and is formatted as Text.
        EXPECT_TRUE(cell.present) << c;
        EXPECT_FALSE(cell.hasValue) << c;
        EXPECT_TRUE(cell.text.isEmpty()) << c;
        EXPECT_NE(cell.type, QStringLiteral("n"));
        EXPECT_EQ(cell.numberFormat, QStringLiteral("@"));
    }
}

TEST(XlsxExport, OverwritingLeavesOnlyTheNewSheet)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.xlsx"));
    WriteForeignWorkbook(path);
    CXlsxBook before;
    ASSERT_TRUE(ReadXlsxBook(path, before));
    ASSERT_EQ(before.sheetNames, (QStringList{QStringLiteral("Old1"), QStringLiteral("Old2")}));
    // The reader tells a number cell from a text cell.
    ASSERT_FALSE(before.rows.at(0).at(0).IsText());
    ASSERT_EQ(before.rows.at(0).at(0).text, QStringLiteral("42"));

    ASSERT_TRUE(WriteXlsxWorkbook(path, kSheet, MakeTable({QStringLiteral("h")}, {{QStringLiteral("new")}})));
    CXlsxBook after;
    ASSERT_TRUE(ReadXlsxBook(path, after));
    EXPECT_EQ(after.sheetNames, QStringList{kSheet});
    EXPECT_FALSE(after.entries.contains(QStringLiteral("xl/worksheets/sheet2.xml")));
    EXPECT_EQ(XlsxRowTexts(after, 1), QStringList{QStringLiteral("new")});
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{QStringLiteral("old.xlsx")});
}

TEST(XlsxExport, MissingParentFoldersAreCreated)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a/b/c/out.xlsx"));
    ASSERT_TRUE(WriteXlsxWorkbook(path, kSheet, MakeTable({QStringLiteral("h")}, {{QStringLiteral("v")}})));
    CXlsxBook book;
    EXPECT_TRUE(ReadXlsxBook(path, book));
    EXPECT_EQ(XlsxRowTexts(book, 1), QStringList{QStringLiteral("v")});
}

TEST(XlsxExport, FailuresSayWhatFailedAndLeaveNoFileBehind)
{
    QTemporaryDir dir;
    // A parent "folder" that is a file cannot be created.
    QFile blocker(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    EXPECT_FALSE(WriteXlsxWorkbook(dir.filePath(QStringLiteral("plain/sub/x.xlsx")), kSheet,
                                   MakeTable({QStringLiteral("h")}, {{QStringLiteral("v")}}), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("无法创建文件夹"))) << error.toStdString();

    // A folder under the chosen name.
    QDir(dir.path()).mkdir(QStringLiteral("folder.xlsx"));
    error.clear();
    EXPECT_FALSE(WriteXlsxWorkbook(dir.filePath(QStringLiteral("folder.xlsx")), kSheet,
                                   MakeTable({QStringLiteral("h")}, {{QStringLiteral("v")}}), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("文件夹"))) << error.toStdString();

    // More columns than a sheet has fails while writing: the existing file
    // under that name is left exactly as it was and no scratch file remains.
    const QString path = dir.filePath(QStringLiteral("keep.xlsx"));
    WriteForeignWorkbook(path);
    QFile original(path);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();
    QStringList tooMany;
    for (int c = 0; c < 16385; ++c)
        tooMany << QStringLiteral("h%1").arg(c);
    error.clear();
    EXPECT_FALSE(WriteXlsxWorkbook(path, kSheet, MakeTable(tooMany, {}), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("标题行"))) << error.toStdString();
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), before);
    EXPECT_EQ(FolderEntries(dir.path()), (QStringList{QStringLiteral("keep.xlsx"), QStringLiteral("plain")}));

    error.clear();
    EXPECT_FALSE(WriteXlsxWorkbook(QString(), kSheet, MakeTable({QStringLiteral("h")}, {}), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(XlsxExport, OverlongCellIsCutAtAWholeCharacter)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.xlsx"));
    // A surrogate pair straddles the limit: it is dropped whole.
    const QString text =
        QString(kMaxCellChars - 1, QLatin1Char('a')) + QString::fromUtf8("\xF0\x9F\x98\x80") + QStringLiteral("tail");
    ASSERT_TRUE(WriteXlsxWorkbook(path, kSheet, MakeTable({QStringLiteral("h")}, {{text}})));
    CXlsxBook book;
    ASSERT_TRUE(ReadXlsxBook(path, book));
    EXPECT_EQ(book.rows.at(1).at(0).text, QString(kMaxCellChars - 1, QLatin1Char('a')));
}

TEST(XlsxExport, DefaultFileNameIsTheLocalTimeStamp)
{
    EXPECT_EQ(DefaultExportFileName(QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9))),
              QStringLiteral("20240305070809.xlsx"));
    EXPECT_EQ(DefaultExportFileName(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58))),
              QStringLiteral("19991231235958.xlsx"));
}
