#pragma once
// Counts the opens and reads of one file through inotify, whoever makes them.
#include <QString>

#include <sys/inotify.h>
#include <unistd.h>

class CFileOpenWatch
{
public:
    explicit CFileOpenWatch(const QString& path) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        m_watch = m_fd < 0 ? -1 : inotify_add_watch(m_fd, path.toLocal8Bit().constData(), IN_OPEN | IN_ACCESS);
    }
    ~CFileOpenWatch() { close(m_fd); }
    bool IsWatching() const { return m_watch >= 0; }
    int Events()
    {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(m_fd, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < n;
                 at += ssize_t(sizeof(inotify_event)) + reinterpret_cast<inotify_event*>(buffer + at)->len)
                ++m_events;
        return m_events;
    }

private:
    int m_fd;
    int m_watch = -1;
    int m_events = 0;
};
