#pragma once
// Fetches one page's text off the window's thread. A worker like the others:
// registered for exit, its request aborted when its stop flag rises, deleted
// when finished. The result arrives as a queued signal.
#include <QString>
#include <QThread>

#include <atomic>

class CPageFetchThread : public QThread
{
    Q_OBJECT
public:
    explicit CPageFetchThread(const QString& url);

    std::atomic<int> m_stop{0};

Q_SIGNALS:
    void Fetched(bool ok, const QString& text);

protected:
    void run() override;

private:
    QString m_url;
};
