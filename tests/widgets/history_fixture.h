#pragma once
// Included by the history widget tests only. What they share: a real store, every message box
// recorded and answered, the visitor card and the save prompt replaced, and a
// dialog that records the change statements it issues.
#include "support/HistoryTestStore.h"
#include "support/WaitUntil.h"

#include "controls/ui/SortListCtrl.h"

#include "history/ui/HistoryDlg.h"
#include "history/ui/ListExport.h"
#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "tables/VisitStatements.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

#include <memory>

struct CRecordedBox
{
    QString text;
    QString caption;
    EMsgIcon icon = EMsgIcon::None;
    EMsgButtons buttons = EMsgButtons::Ok;
};

class CRecordingHistoryDlg : public CHistoryDlg
{
public:
    using CHistoryDlg::CHistoryDlg;
    // The change statements issued (by a worker; read once the dialog has settled).
    QStringList statements;
};

class CHistoryDialogTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the dialog (after the visits are in the store).
    CRecordingHistoryDlg& Dialog();
    // The texts of one list column, top to bottom.
    QStringList Column(int column) const;
    QList<int> ListIds() const;
    template <typename T> T* Find(const char* name) const
    {
        return m_dialog ? m_dialog->findChild<T*>(QLatin1String(name)) : nullptr;
    }
    void Click(const char* buttonName);
    // Lets the list's reading and any export finish (both run on workers).
    void Settle();

    std::unique_ptr<CHistoryTestStore> m_store;
    std::unique_ptr<CRecordingHistoryDlg> m_dialog;
    QList<CRecordedBox> m_boxes;
    int m_answer = kIdYes;
    // The save prompt: what it was asked and the path it gives.
    QString m_savePath;
    int m_prompts = 0;
    QString m_promptTitle, m_promptDefaultName;
    QStringList m_promptFilters;
    // The visitor cards opened: name and IM ID.
    QList<QPair<QString, QString>> m_cards;

private:
    MessageBoxHandler m_previousBox;
    SaveFilePrompt m_previousPrompt;
    VisitorCardOpener m_previousCard;
    VisitDeleteRunner m_previousRunner;
};

inline void CHistoryDialogTest::SetUp()
{
    m_previousBox =
        SetMessageBoxHandler([this](const QString& text, const QString& caption, EMsgIcon icon, EMsgButtons buttons) {
            m_boxes.append({text, caption, icon, buttons});
            return buttons == EMsgButtons::YesNo ? m_answer : kIdOk;
        });
    m_previousPrompt = SetSaveFilePrompt(
        [this](QWidget*, const QString& title, const QString& defaultName, const QStringList& filters) {
            ++m_prompts;
            m_promptTitle = title;
            m_promptDefaultName = defaultName;
            m_promptFilters = filters;
            return m_savePath;
        });
    m_previousCard = SetVisitorCardOpener([this](QWidget*, const QString& name, const QString& imId) {
        m_cards.append({name, imId});
    });
    m_previousRunner = SetVisitDeleteRunner([this](const QString& sql) {
        if (m_dialog)
            m_dialog->statements << sql;
        return ExecuteVisitDelete(sql);
    });
    m_store = std::make_unique<CHistoryTestStore>();
    ASSERT_TRUE(m_store->IsOpen());
}

inline void CHistoryDialogTest::TearDown()
{
    m_dialog.reset();
    m_store.reset();
    SetVisitorCardOpener(m_previousCard);
    SetVisitDeleteRunner(m_previousRunner);
    SetSaveFilePrompt(m_previousPrompt);
    SetMessageBoxHandler(m_previousBox);
}

inline CRecordingHistoryDlg& CHistoryDialogTest::Dialog()
{
    if (!m_dialog) {
        m_dialog = std::make_unique<CRecordingHistoryDlg>();
        Settle();
    }
    return *m_dialog;
}

inline QStringList CHistoryDialogTest::Column(int column) const
{
    QStringList texts;
    const CSortListCtrl* list = m_dialog->List();
    for (int row = 0; row < list->GetItemCount(); ++row)
        texts << list->GetItemText(row, column);
    return texts;
}

inline QList<int> CHistoryDialogTest::ListIds() const
{
    QList<int> ids;
    for (const QString& text : Column(0))
        ids << text.toInt();
    return ids;
}

inline void CHistoryDialogTest::Click(const char* buttonName)
{
    auto* button = Find<QAbstractButton>(buttonName);
    ASSERT_NE(button, nullptr) << buttonName;
    button->click();
    Settle();
}

inline void CHistoryDialogTest::Settle()
{
    ASSERT_TRUE(WaitUntil([this] {
        return !m_dialog ||
               (!m_dialog->IsFilling() && !m_dialog->findChild<QObject*>(QStringLiteral("listExportJob")) &&
                !m_dialog->List()->IsSorting());
    })) << "the list's reading or export did not end";
}
