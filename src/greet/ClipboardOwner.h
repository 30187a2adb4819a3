#pragma once
// Owns the X CLIPBOARD selection and serves the greeting text from a thread
// of its own with a display connection of its own: the program that pastes
// asks for the text while our greeting thread is busy pressing keys, so the
// answer must never wait for that thread. Serves TARGETS, UTF8_STRING,
// text/plain;charset=utf-8 and STRING; large texts go out in INCR chunks.
// One instance per process; the text stays on offer until another program
// takes the clipboard, as it would on any desktop.
#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

class CClipboardOwner
{
public:
    static CClipboardOwner& Instance();
    ~CClipboardOwner();
    CClipboardOwner(const CClipboardOwner&) = delete;
    CClipboardOwner& operator=(const CClipboardOwner&) = delete;

    // Takes the selection on the display named by DISPLAY and offers text.
    // False without a display, or when the selection was not ours within timeoutMs.
    bool SetText(const QString& text, int timeoutMs = 5000);
    // The window that took the selection last, 0 when none; the selection is
    // still ours when the display names it as the CLIPBOARD owner.
    unsigned long OwnerWindow();
    // Gives the selection up and ends the serving thread.
    void Shutdown();

private:
    CClipboardOwner() = default;
    void Run(QByteArray displayName);
    void Wake();
    void StopLocked(std::unique_lock<std::mutex>& lock);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
    QByteArray m_displayName;
    int m_wakePipe[2] = {-1, -1};
    bool m_running = false; // the thread has its display and serves requests
    bool m_ended = true;    // the thread has left its loop (or never started)
    bool m_stop = false;
    // The request handed to the thread, and its answer.
    quint64 m_requestSerial = 0;
    quint64 m_answeredSerial = 0;
    bool m_answer = false;
    unsigned long m_ownerWindow = 0;
    QByteArray m_requestUtf8;
    QByteArray m_requestLatin1;
};
