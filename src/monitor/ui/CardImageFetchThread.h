#pragma once
// Fetches the pictures of the visitor card off the window's thread, one
// address after the other. A worker like the others: registered for exit,
// its request aborted when its stop flag rises, deleted when finished by
// whoever starts it. Each answer arrives as a queued signal.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

class CCardImageFetchThread : public QThread
{
    Q_OBJECT
public:
    explicit CCardImageFetchThread(const QStringList& urls, QObject* parent = nullptr);

    std::atomic<int> m_stop{0};

Q_SIGNALS:
    // ok false: nothing usable came back; bytes is then empty.
    void ImageFetched(const QString& url, const QByteArray& bytes, bool ok);

protected:
    void run() override;

private:
    QStringList m_urls;
};
