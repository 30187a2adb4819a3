#pragma once
// Alerts for visits another machine of the team recorded: the store's notice
// (CTeamListener::VisitRecorded) of a visit becomes this machine's alert,
// sound, status text and visitor list refill, by this machine's own settings,
// as if it had polled the account itself. Notices that arrive together are
// taken as one poll's visitors. Owned by the application on the window's
// thread; the store and the item page are read on a background worker.
#include "platform/OneShot.h"

#include <QList>
#include <QObject>
#include <QTimer>

class CTeamAlerts : public QObject
{
    Q_OBJECT
public:
    // Notices within this time of the first make one batch.
    static constexpr int kBatchMs = 300;

    explicit CTeamAlerts(QObject* parent = nullptr);
    ~CTeamAlerts() override;

    // Reads the visits and raises their alerts (a worker thread; blocking).
    static void RaiseAlerts(const QList<qint64>& ids);

public Q_SLOTS:
    void OnVisitRecorded(qint64 id, const QString& machine);

private:
    void Flush();

    QList<qint64> m_pending;
    QTimer m_batch;
    COneShot m_work;
};
