#pragma once
// A real Info.mdb in a temporary folder for the history tests, and a way to
// put visits into [client] the way monitoring records them.
#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>

struct CHistoryVisit
{
    QString guest;
    QString shop;
    QDateTime time;
    QString url = QStringLiteral("http://item.example/1");
    QString ip = QStringLiteral("10.0.0.1");
    QString city = QStringLiteral("未知区域");
};

class CHistoryTestStore
{
public:
    // Opens the store (g_pConnection) in a fresh folder; IsOpen() tells whether it worked.
    CHistoryTestStore();
    ~CHistoryTestStore();
    CHistoryTestStore(const CHistoryTestStore&) = delete;
    CHistoryTestStore& operator=(const CHistoryTestStore&) = delete;

    bool IsOpen() const { return m_open; }
    QString Folder() const { return m_dir.path(); }

    // Inserts one visit; returns its [id] or -1.
    int AddVisit(const CHistoryVisit& visit);
    bool AddShop(const QString& name);
    // [id]s of the rows a query returns, in its order.
    static QList<int> Ids(const QString& sql);
    static int CountVisits();

private:
    QTemporaryDir m_dir;
    bool m_open = false;
};
