#include "support/TestMain.h"

#include "history_fixture.h"

#include "history/CsvExport.h"
#include "support/HistoryXlsxReader.h"

#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>

#include <sys/stat.h>

namespace {

const QStringList kHeadings = {QStringLiteral("编号"),     QStringLiteral("访客"),         QStringLiteral("IP"),
                               QStringLiteral("店铺"),     QStringLiteral("最后访问时间"), QStringLiteral("次数"),
                               QStringLiteral("所属地区"), QStringLiteral("商品地址")};

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A CSV file as Python's csv module reads it (with the BOM taken off), or empty.
QList<QStringList> ReadCsvWithPython(const QString& path)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                                 "    print(json.dumps(list(csv.reader(f))))"),
                  path});
    QList<QStringList> rows;
    if (!python.waitForFinished(20000) || python.exitCode() != 0)
        return rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        QStringList texts;
        for (const QJsonValue& cell : row.toArray())
            texts << cell.toString();
        rows << texts;
    }
    return rows;
}

} // namespace

class HistoryExport : public CHistoryDialogTest
{
protected:
    void SetUp() override
    {
        CHistoryDialogTest::SetUp();
        ASSERT_TRUE(m_out.isValid());
        m_savePath = m_out.filePath(QStringLiteral("visits.xlsx"));
    }

    // Seven visits; "bo" matches three of them.
    void AddVisits()
    {
        const QDate day(2024, 7, 1);
        const struct
        {
            const char* guest;
            const char* ip;
            const char* url;
        } visits[] = {{"bob", "1.2.3.4", "http://item.example/1"},
                      {"alice", "5.6.7.8", "http://item.example/2"},
                      {"=1+2", "", "@SUM(A1:A2)"},
                      {"bonnie", "", "+86"},
                      {"carl", "9.9.9.9", "-3"},
                      {"hobo", "0.0.0.0", "未知链接"},
                      {"dave", "1.1.1.1", "http://item.example/3"}};
        int minute = 0;
        for (const auto& v : visits) {
            CHistoryVisit visit{QString::fromUtf8(v.guest), QStringLiteral("店铺甲"),
                                QDateTime(day, QTime(10, minute++, 5))};
            visit.ip = QString::fromUtf8(v.ip);
            visit.url = QString::fromUtf8(v.url);
            ASSERT_GT(m_store->AddVisit(visit), 0);
        }
    }

    // The list as shown, headings first.
    QList<QStringList> ShownRows() const
    {
        QList<QStringList> rows{kHeadings};
        for (int r = 0; r < m_dialog->List()->GetItemCount(); ++r) {
            QStringList texts;
            for (int c = 0; c < 8; ++c)
                texts << m_dialog->List()->GetItemText(r, c);
            rows << texts;
        }
        return rows;
    }

    QList<QStringList> WorkbookRows(const CXlsxBook& book) const
    {
        QList<QStringList> rows;
        for (int r = 0; r < book.rows.size(); ++r)
            rows << XlsxRowTexts(book, r);
        return rows;
    }

    QTemporaryDir m_out;
};

TEST_F(HistoryExport, ThreeFilteredRowsBecomeHeadingsPlusThreeTextRows)
{
    AddVisits();
    Dialog();
    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("bo"));
    Click("showVisitorButton");
    ASSERT_EQ(Dialog().List()->GetItemCount(), 3);

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    Click("exportButton");
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    // The prompt: title, filters and a time-stamped default name.
    EXPECT_EQ(m_prompts, 1);
    EXPECT_EQ(m_promptTitle, QStringLiteral("导出"));
    EXPECT_EQ(m_promptFilters, (QStringList{QStringLiteral("Excel文件(*.xlsx)"), QStringLiteral("CSV文件(*.csv)"),
                                            QStringLiteral("所有文件(*.*)")}));
    const auto stamp = QRegularExpression(QStringLiteral("^(\\d{14})\\.xlsx$")).match(m_promptDefaultName);
    ASSERT_TRUE(stamp.hasMatch()) << m_promptDefaultName.toStdString();
    const QDateTime named = QDateTime::fromString(stamp.captured(1), QStringLiteral("yyyyMMddhhmmss"));
    EXPECT_TRUE(named >= before.addMSecs(-before.time().msec()) && named <= after) << m_promptDefaultName.toStdString();

    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes[0].text, QStringLiteral("导出文件保存于%1!").arg(m_savePath));
    EXPECT_EQ(m_boxes[0].buttons, EMsgButtons::Ok);

    CXlsxBook book;
    QString error;
    ASSERT_TRUE(ReadXlsxBook(m_savePath, book, &error)) << error.toStdString();
    EXPECT_EQ(book.sheetNames, QStringList{QStringLiteral("客户列表")});
    ASSERT_EQ(book.rows.size(), 4);
    EXPECT_EQ(WorkbookRows(book), ShownRows());
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 8; ++c) {
            const CXlsxCell& cell = book.rows[r][c];
            EXPECT_FALSE(cell.hasFormula) << r << "," << c;
            EXPECT_EQ(cell.numberFormat, QStringLiteral("@")) << r << "," << c;
            if (cell.text.isEmpty())
                EXPECT_FALSE(cell.hasValue) << r << "," << c; // empty text: a Text cell without value
            else
                EXPECT_TRUE(cell.IsText()) << r << "," << c << " " << cell.type.toStdString();
        }
    }
    // 编号 and 次数 are numbers in the list and text in the workbook.
    EXPECT_TRUE(book.rows[1][0].IsText());
    EXPECT_EQ(book.rows[1][5].text, QStringLiteral("1"));
    EXPECT_TRUE(book.rows[1][5].IsText());
}

TEST_F(HistoryExport, FormulaLikeAndEmptyCellsStayText)
{
    AddVisits();
    Dialog();
    Click("exportButton");
    CXlsxBook book;
    ASSERT_TRUE(ReadXlsxBook(m_savePath, book));
    ASSERT_EQ(book.rows.size(), 8);
    EXPECT_EQ(WorkbookRows(book), ShownRows());
    bool sawFormulaLike = false, sawEmpty = false;
    for (int r = 1; r < book.rows.size(); ++r) {
        for (const CXlsxCell& cell : book.rows[r]) {
            EXPECT_FALSE(cell.hasFormula);
            if (cell.text.startsWith(QLatin1Char('=')) || cell.text.startsWith(QLatin1Char('@')) ||
                cell.text.startsWith(QLatin1Char('+')) || cell.text.startsWith(QLatin1Char('-'))) {
                sawFormulaLike = true;
                EXPECT_TRUE(cell.IsText()) << cell.text.toStdString();
            }
            if (cell.text.isEmpty()) {
                sawEmpty = true;
                EXPECT_TRUE(cell.present);
                EXPECT_NE(cell.type, QStringLiteral("n"));
                EXPECT_EQ(cell.numberFormat, QStringLiteral("@"));
            }
        }
    }
    EXPECT_TRUE(sawFormulaLike);
    EXPECT_TRUE(sawEmpty);
}

TEST_F(HistoryExport, RowsFollowTheSortOnScreen)
{
    AddVisits();
    Dialog();
    CSortListCtrl* list = Dialog().List();
    list->OnColumnClick(1); // visitor names, ascending
    list->OnColumnClick(1); // descending
    const QStringList names = Column(1);
    QStringList sortedDesc = names;
    std::sort(sortedDesc.begin(), sortedDesc.end(),
              [](const QString& a, const QString& b) { return CSortListCtrl::CompareFunction(a, b, false) < 0; });
    ASSERT_EQ(names, sortedDesc);

    Click("exportButton");
    CXlsxBook book;
    ASSERT_TRUE(ReadXlsxBook(m_savePath, book));
    EXPECT_EQ(WorkbookRows(book), ShownRows());
    QStringList exportedNames;
    for (int r = 1; r < book.rows.size(); ++r)
        exportedNames << book.rows[r][1].text;
    EXPECT_EQ(exportedNames, names);
}

TEST_F(HistoryExport, EmptyListOrCancelWritesNothingAndShowsNothing)
{
    AddVisits();
    Dialog();
    Find<QDateEdit>("dayDateEdit")->setDate(QDate(2001, 1, 1));
    Click("showDayButton");
    ASSERT_EQ(Dialog().List()->GetItemCount(), 0);
    Click("exportButton");
    EXPECT_EQ(m_prompts, 0);
    EXPECT_TRUE(m_boxes.isEmpty());

    Click("showAllButton");
    m_savePath.clear(); // the owner cancels
    Click("exportButton");
    EXPECT_EQ(m_prompts, 1);
    EXPECT_TRUE(m_boxes.isEmpty());
    EXPECT_TRUE(QDir(m_out.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(HistoryExport, OverwriteIsConfirmedAndLeavesOnlyTheNewSheet)
{
    AddVisits();
    Dialog();
    Click("exportButton"); // a first workbook with all seven rows
    ASSERT_EQ(m_boxes.size(), 1);
    const QByteArray first = FileBytes(m_savePath);

    Find<QLineEdit>("visitorEdit")->setText(QStringLiteral("alice"));
    Click("showVisitorButton");
    m_answer = kIdNo;
    Click("exportButton");
    ASSERT_EQ(m_boxes.size(), 2);
    EXPECT_EQ(m_boxes[1].buttons, EMsgButtons::YesNo);
    EXPECT_TRUE(m_boxes[1].text.contains(QStringLiteral("visits.xlsx")));
    EXPECT_EQ(FileBytes(m_savePath), first);

    m_answer = kIdYes;
    Click("exportButton");
    ASSERT_EQ(m_boxes.size(), 4);
    EXPECT_EQ(m_boxes[3].text, QStringLiteral("导出文件保存于%1!").arg(m_savePath));
    CXlsxBook book;
    ASSERT_TRUE(ReadXlsxBook(m_savePath, book));
    EXPECT_EQ(book.sheetNames, QStringList{QStringLiteral("客户列表")});
    ASSERT_EQ(book.rows.size(), 2);
    EXPECT_EQ(book.rows[1][1].text, QStringLiteral("alice"));
    EXPECT_EQ(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("visits.xlsx")});
}

TEST_F(HistoryExport, FoldersAreCreatedAndFailuresAreReported)
{
    AddVisits();
    Dialog();
    m_savePath = m_out.filePath(QStringLiteral("new/deeper/list.xlsx"));
    Click("exportButton");
    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_TRUE(m_boxes[0].text.startsWith(QStringLiteral("导出文件保存于")));
    CXlsxBook book;
    EXPECT_TRUE(ReadXlsxBook(m_savePath, book));

    // A folder that cannot exist: a plain file stands in its way.
    QFile blocker(m_out.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_savePath = m_out.filePath(QStringLiteral("blocker/list.xlsx"));
    Click("exportButton");
    ASSERT_EQ(m_boxes.size(), 2);
    EXPECT_TRUE(m_boxes[1].text.startsWith(QStringLiteral("导出失败"))) << m_boxes[1].text.toStdString();
    EXPECT_TRUE(m_boxes[1].text.contains(QStringLiteral("无法创建文件夹"))) << m_boxes[1].text.toStdString();
    EXPECT_EQ(m_boxes[1].icon, EMsgIcon::Error);
    EXPECT_FALSE(QFile::exists(m_savePath));
}

TEST_F(HistoryExport, CancelLeavesNoFileAndKeepsTheOldOne)
{
    AddVisits();
    Dialog();
    for (const bool existed : {false, true}) {
        if (existed) {
            QFile old(m_savePath);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("old workbook");
        }
        m_boxes.clear();
        Dialog().OnExport();
        // "取消" before the worker's result reaches the window.
        auto* progress = Dialog().findChild<QProgressDialog*>(QStringLiteral("exportProgressDialog"));
        ASSERT_NE(progress, nullptr);
        auto* cancel = progress->findChild<QPushButton*>();
        ASSERT_TRUE(cancel && cancel->text() == QStringLiteral("取消"));
        cancel->click();
        Settle();
        // Only the overwrite question; no file, no hidden file, the old one as it was.
        EXPECT_EQ(m_boxes.size(), existed ? 1 : 0);
        EXPECT_EQ(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden),
                  existed ? QStringList{QStringLiteral("visits.xlsx")} : QStringList{});
        if (existed) {
            EXPECT_EQ(FileBytes(m_savePath), QByteArray("old workbook"));
        }
    }
}

TEST_F(HistoryExport, CsvHoldsEveryRowAndColumnWithFormulasNeutralised)
{
    AddVisits();
    // Past the list's first block of rows, so rows of several blocks are written.
    for (int n = 0; n < 250; ++n)
        ASSERT_GT(m_store->AddVisit({QStringLiteral("访客%1").arg(n), QStringLiteral("店铺乙"),
                                     QDateTime(QDate(2024, 8, 1), QTime(0, 0)).addSecs(n)}),
                  0);
    Dialog();
    Dialog().List()->OnColumnClick(1);
    Settle();
    m_savePath = m_out.filePath(QStringLiteral("visits.csv"));
    // A new export gets the mode the owner's umask gives, like any file they save.
    const mode_t savedMask = ::umask(027);
    Click("exportButton");
    ::umask(savedMask);
    struct stat info
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(m_savePath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes[0].text, QStringLiteral("导出文件保存于%1!").arg(m_savePath));
    EXPECT_TRUE(FileBytes(m_savePath).startsWith("\xEF\xBB\xBF"));

    QList<QStringList> expected = ShownRows();
    ASSERT_EQ(expected.size(), 258);
    for (QStringList& row : expected) {
        for (QString& cell : row) {
            if (QStringLiteral("=+-@").contains(cell.left(1)) && !cell.isEmpty())
                cell.prepend(QLatin1Char('\''));
        }
    }
    EXPECT_EQ(ReadCsvWithPython(m_savePath), expected);
}

// What a spreadsheet would take for a formula gets an apostrophe in front;
// the rest is written as it is (quoted where CSV needs it).
TEST(CsvFieldTest, FormulaLikeTextsAreNeutralised)
{
    const struct
    {
        const char* text;
        const char* field;
    } cases[] = {
        {"=1+2", "'=1+2"},
        {"+86", "'+86"},
        {"-3", "'-3"},
        {"@SUM(A1:A2)", "'@SUM(A1:A2)"},
        {"\t=1", "'\t=1"},
        {"\r=1", "\"'\r=1\""},
        {"＝1+2", "'＝1+2"},
        {"＋86", "'＋86"},
        {"－3", "'－3"},
        {"＠SUM(A1)", "'＠SUM(A1)"},
        {" =1+2", "' =1+2"},
        {"   ＋86", "'   ＋86"},
        {"\u3000－3", "'\u3000－3"},
        {" x=1", " x=1"},
        {"a=b", "a=b"},
        {"", ""},
        {"   ", "   "},
        {"=a,b", "\"'=a,b\""},
        {"张三", "张三"},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CsvField(QString::fromUtf8(c.text)), QString::fromUtf8(c.field)) << c.text;
}
