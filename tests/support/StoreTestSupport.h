#pragma once
// Test helpers around the store: a message recorder (no box ever blocks a test), a real
// Info.mdb in a temporary directory, and the standard reading loop.
#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

struct CShownMessage
{
    QString text;
    QString caption;
    EMsgIcon icon;
};

// Records every message box for its lifetime and answers OK (or the given answer).
class CMessageRecorder
{
public:
    explicit CMessageRecorder(int answer = kIdOk)
    {
        m_previous = SetMessageBoxHandler(
            [this, answer](const QString& text, const QString& caption, EMsgIcon icon, EMsgButtons) {
                std::lock_guard lock(m_mutex);
                m_shown.push_back({text, caption, icon});
                return answer;
            });
    }
    ~CMessageRecorder() { SetMessageBoxHandler(m_previous); }
    CMessageRecorder(const CMessageRecorder&) = delete;
    CMessageRecorder& operator=(const CMessageRecorder&) = delete;

    std::vector<CShownMessage> Shown() const
    {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }
    size_t Count() const { return Shown().size(); }

private:
    mutable std::mutex m_mutex;
    std::vector<CShownMessage> m_shown;
    MessageBoxHandler m_previous;
};

// Reads every row of a query the way the program's readers do: open, then fetch the
// given positions as text and move on until the end. An empty list when it does not open.
inline QList<QStringList> ReadRows(CAdoConnection& connection, const QString& sql, const QList<int>& positions)
{
    QList<QStringList> rows;
    CAdoRecordSet recordSet(&connection);
    if (!recordSet.Open(sql))
        return rows;
    // A bound on the loop, so a faulty end-of-data test fails instead of hanging.
    for (int guard = 0; !recordSet.IsEOF() && guard < 1000000; ++guard) {
        QStringList row;
        for (int position : positions) {
            QString text = QStringLiteral("<unread>");
            recordSet.GetCollect(position, text);
            row.append(text);
        }
        rows.append(row);
        recordSet.MoveNext();
    }
    recordSet.Close();
    return rows;
}

// One column of every row.
inline QStringList ReadColumn(CAdoConnection& connection, const QString& sql, int position)
{
    QStringList column;
    for (const QStringList& row : ReadRows(connection, sql, {position}))
        column.append(row.value(0));
    return column;
}

// A connection to a new Info.mdb in a temporary directory, with a message recorder.
class CStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("Info.mdb"));
        ASSERT_TRUE(m_connection.Connect(m_path)) << qPrintable(m_connection.LastOpenError());
    }

    QTemporaryDir m_dir;
    QString m_path;
    CMessageRecorder m_messages;
    CAdoConnection m_connection;
};
