#pragma once
// Owns the X CLIPBOARD selection and serves the greeting text from a thread
// of its own with a display connection of its own: the program that pastes
// asks for the text while our greeting thread is busy pressing keys, so the
// answer must never wait for that thread. Serves TARGETS, UTF8_STRING,
// text/plain;charset=utf-8 and STRING; large texts go out in INCR chunks.
// One instance per process; the text stays on offer until another program
// takes the clipboard or the greeting gives the owner's content back.
#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// One form of a clipboard's content: the target it answers, the type and
// format (8, 16 or 32) of its property, and the property's bytes (32-bit
// items as the longs Xlib hands over).
struct CClipboardItem
{
    QByteArray target;
    QByteArray type;
    int format = 8;
    QByteArray data;
};
using CClipboardContents = std::vector<CClipboardItem>;

// The forms a text is offered in: UTF8_STRING, text/plain;charset=utf-8, STRING (Latin-1).
CClipboardContents TextClipboardContents(const QString& text);

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
    // The same for any content (what another program offered before, given back).
    bool SetContents(const CClipboardContents& contents, int timeoutMs = 5000);
    // Gives the selection up when it is ours, leaving the clipboard empty.
    void Release(int timeoutMs = 5000);
    // What we offer now (empty when the selection is not ours).
    CClipboardContents Contents();
    // Requests for content (not for the list of targets) answered so far.
    quint64 ServedRequests() const { return m_served.load(); }
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
    bool Request(const CClipboardContents& contents, bool release, int timeoutMs);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Not a one-shot: it serves the selection for as long as it is ours, on a display of its own.
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
    CClipboardContents m_requestContents;
    bool m_requestRelease = false;
    CClipboardContents m_offered;
    std::atomic<quint64> m_served{0};
};
