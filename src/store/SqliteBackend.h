#pragma once
// The local store: Info.mdb, an SQLite file, over one handle in serialised mode that
// every thread shares (a step and the reading of its result hold the handle's mutex
// together). Once a window thread is named, that thread's statements go through a
// second handle with a short busy time-out, so a worker waiting on another program's
// write lock never holds the window up. Owned by its CAdoConnection.
#include "store/StoreBackend.h"

#include <atomic>

struct sqlite3;

class CSqliteBackend final : public CStoreBackend
{
public:
    CSqliteBackend() = default;
    ~CSqliteBackend() override;
    CSqliteBackend(const CSqliteBackend&) = delete;
    CSqliteBackend& operator=(const CSqliteBackend&) = delete;

    // Opens the file; a missing or zero-length one is made with the four tables and the
    // settings row. False with the reason in the owner's words.
    bool Open(const QString& path, QString* error);
    // The workers' handle.
    sqlite3* Handle() const { return m_db; }

    bool IsTeam() const override { return false; }
    QString MachineName() const override { return QString(); }
    bool IsReachable() const override { return true; }
    int ExecuteChanges(const QString& sql) override;
    bool ExecuteChain(const QString& first, const std::function<QString(int done, int changes)>& next,
                      QList<int>* changes) override;
    bool DeleteWhere(const QString& table, const QString& condition) override;
    void SetWindowThread(QThread* thread, int busyTimeoutMs) override;
    std::unique_ptr<CStoreCursor> OpenCursor(const QString& sql) override;

private:
    void OpenWindowHandle(const QString& path);
    sqlite3* HandleForCaller() const;

    sqlite3* m_db = nullptr;
    sqlite3* m_windowDb = nullptr;
    std::atomic<QThread*> m_windowThread{nullptr};
    int m_windowBusyMs = 0;
};
