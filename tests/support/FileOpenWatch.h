#pragma once
// Counts the opens of one file through inotify, whoever opens it (this
// process or another). Test's thread only.
#include <QString>

#include <sys/inotify.h>
#include <unistd.h>

class CFileOpenWatch
{
public:
    explicit CFileOpenWatch(const QString& path)
    {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0)
            m_watch = inotify_add_watch(m_fd, path.toLocal8Bit().constData(), IN_OPEN | IN_ACCESS);
    }
    ~CFileOpenWatch()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CFileOpenWatch(const CFileOpenWatch&) = delete;
    CFileOpenWatch& operator=(const CFileOpenWatch&) = delete;

    bool IsWatching() const { return m_fd >= 0 && m_watch >= 0; }

    // Opens and reads seen so far.
    int Events()
    {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & (IN_OPEN | IN_ACCESS))
                    ++m_events;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return m_events;
    }

private:
    int m_fd = -1;
    int m_watch = -1;
    int m_events = 0;
};
