#pragma once
// The team store: every machine of a shop team on one PostgreSQL server (CTeamStore
// underneath), the program's statements translated on the way in and the values read
// back as SQLite gives them. Owned by its CAdoConnection.
#include "store/StoreBackend.h"

class CTeamStore;

class CTeamBackend final : public CStoreBackend
{
public:
    CTeamBackend(const QString& url, const QString& machine, QThread* window);
    ~CTeamBackend() override;
    CTeamBackend(const CTeamBackend&) = delete;
    CTeamBackend& operator=(const CTeamBackend&) = delete;

    // Connects and makes the schema when the server has none. False when it did not connect;
    // *refused tells a refusal (no use retrying) from a server away (retried in the background).
    bool Start(QString* why, bool* refused);

    bool IsTeam() const override { return true; }
    QString MachineName() const override;
    bool IsReachable() const override;
    // Chains and deletes are plain statements (CStoreBackend's): each thread has a session of
    // its own, and the server keeps the inserts of other sessions apart from a delete.
    int ExecuteChanges(const QString& sql) override;
    void SetWindowThread(QThread* thread, int busyTimeoutMs) override;
    std::unique_ptr<CStoreCursor> OpenCursor(const QString& sql) override;

private:
    std::unique_ptr<CTeamStore> m_store;
};
