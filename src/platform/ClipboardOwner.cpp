#include "platform/ClipboardOwner.h"

#include "platform/XWindows.h"

#include <QDateTime>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// A transfer in INCR chunks, one per requestor and property.
struct CIncrTransfer
{
    Window requestor = 0;
    Atom property = 0;
    Atom type = 0;
    QByteArray data;
    qsizetype offset = 0;
    bool terminated = false;
    qint64 lastActivityMs = 0;
};

constexpr qsizetype kIncrChunk = 64 * 1024;
constexpr qint64 kIncrStaleMs = 10000;

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

struct CSelectionAtoms
{
    explicit CSelectionAtoms(Display* d)
        : clipboard(XInternAtom(d, "CLIPBOARD", False)), targets(XInternAtom(d, "TARGETS", False)),
          timestamp(XInternAtom(d, "TIMESTAMP", False)), utf8(XInternAtom(d, "UTF8_STRING", False)),
          textPlainUtf8(XInternAtom(d, "text/plain;charset=utf-8", False)), text(XInternAtom(d, "TEXT", False)),
          incr(XInternAtom(d, "INCR", False)), stamp(XInternAtom(d, "_MIREL_CLIPBOARD_STAMP", False))
    {
    }
    Atom clipboard;
    Atom targets;
    Atom timestamp;
    Atom utf8;
    Atom textPlainUtf8;
    Atom text;
    Atom incr;
    Atom stamp;
};

// What one serving thread holds while it runs.
class CSelectionServer
{
public:
    CSelectionServer(Display* display, std::atomic<quint64>* served)
        : m_d(display), m_atoms(display), m_served(served),
          m_window(XCreateSimpleWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0, 0))
    {
        XSelectInput(m_d, m_window, PropertyChangeMask);
        // Texts above this go out in chunks; a property must fit one request.
        const long maxRequestBytes = XMaxRequestSize(m_d) * 4 - 1024;
        m_incrThreshold = qMin<qsizetype>(maxRequestBytes, 256 * 1024);
    }

    ~CSelectionServer()
    {
        if (m_owned)
            XSetSelectionOwner(m_d, m_atoms.clipboard, 0, CurrentTime);
        XDestroyWindow(m_d, m_window);
        XSync(m_d, False);
    }

    Window WindowId() const { return m_window; }

    bool TakeSelection(const CClipboardContents& contents)
    {
        const Time now = ServerTime();
        XSetSelectionOwner(m_d, m_atoms.clipboard, m_window, now);
        m_owned = XGetSelectionOwner(m_d, m_atoms.clipboard) == m_window;
        if (!m_owned)
            return false;
        m_ownedSince = now;
        m_items.clear();
        for (const CClipboardItem& item : contents)
            m_items.push_back({XInternAtom(m_d, item.target.constData(), False),
                               XInternAtom(m_d, item.type.constData(), False), item});
        return true;
    }

    void GiveUp()
    {
        if (m_owned && XGetSelectionOwner(m_d, m_atoms.clipboard) == m_window)
            XSetSelectionOwner(m_d, m_atoms.clipboard, 0, ServerTime());
        m_owned = false;
        m_items.clear();
        XSync(m_d, False);
    }

    void Handle(XEvent& event)
    {
        switch (event.type) {
        case SelectionRequest:
            Answer(event.xselectionrequest);
            break;
        case SelectionClear:
            if (event.xselectionclear.selection == m_atoms.clipboard && event.xselectionclear.window == m_window) {
                m_owned = false;
                m_items.clear();
            }
            break;
        case PropertyNotify:
            if (event.xproperty.state == PropertyDelete)
                ContinueTransfer(event.xproperty.window, event.xproperty.atom);
            break;
        default:
            break;
        }
    }

    bool HasTransfers() const { return !m_transfers.empty(); }

    void DropStaleTransfers()
    {
        const qint64 now = NowMs();
        for (auto it = m_transfers.begin(); it != m_transfers.end();) {
            if (now - it->lastActivityMs > kIncrStaleMs)
                it = EndTransfer(it);
            else
                ++it;
        }
    }

private:
    // A real server time for the ownership claim: the time of a property change on our window.
    Time ServerTime()
    {
        XChangeProperty(m_d, m_window, m_atoms.stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XEvent event;
        XWindowEvent(m_d, m_window, PropertyChangeMask, &event);
        return event.xproperty.time;
    }

    void Answer(const XSelectionRequestEvent& request)
    {
        XSelectionEvent notify{};
        notify.type = SelectionNotify;
        notify.display = m_d;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.time = request.time;
        notify.property = 0;
        // Clients older than ICCCM 2 leave the property out: use the target.
        const Atom property = request.property ? request.property : request.target;
        // The request's time is not held against our claim: requestors stamp
        // it with the last event they saw, which may predate it.
        const bool ours = m_owned && request.selection == m_atoms.clipboard;
        if (ours && property) {
            const COffered* item = Find(request.target == m_atoms.text ? m_atoms.utf8 : request.target);
            if (request.target == m_atoms.targets) {
                std::vector<Atom> offered{m_atoms.targets};
                for (const COffered& each : m_items)
                    offered.push_back(each.target);
                XChangeProperty(m_d, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(offered.data()), int(offered.size()));
                notify.property = property;
            } else if (request.target == m_atoms.timestamp) {
                const long stamp = long(m_ownedSince);
                XChangeProperty(m_d, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(&stamp), 1);
                notify.property = property;
            } else if (item) {
                const QByteArray& data = item->item.data;
                const int unit = item->item.format == 32 ? int(sizeof(long)) : item->item.format / 8;
                if (item->item.format == 8 && data.size() > m_incrThreshold)
                    StartTransfer(request.requestor, property, item->type, data);
                else if (data.size() <= m_incrThreshold)
                    XChangeProperty(m_d, request.requestor, property, item->type, item->item.format, PropModeReplace,
                                    reinterpret_cast<const unsigned char*>(data.constData()), int(data.size() / unit));
                notify.property = data.size() <= m_incrThreshold || item->item.format == 8 ? property : 0;
                if (notify.property)
                    ++*m_served;
            }
        }
        XSendEvent(m_d, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&notify));
        XFlush(m_d);
    }

    void StartTransfer(Window requestor, Atom property, Atom type, const QByteArray& data)
    {
        // Hear the requestor delete each chunk before the next one goes.
        XSelectInput(m_d, requestor, PropertyChangeMask);
        const long size = long(data.size());
        XChangeProperty(m_d, requestor, property, m_atoms.incr, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&size), 1);
        CIncrTransfer transfer;
        transfer.requestor = requestor;
        transfer.property = property;
        transfer.type = type;
        transfer.data = data;
        transfer.lastActivityMs = NowMs();
        m_transfers.push_back(transfer);
    }

    void ContinueTransfer(Window window, Atom property)
    {
        for (auto it = m_transfers.begin(); it != m_transfers.end(); ++it) {
            if (it->requestor != window || it->property != property)
                continue;
            if (it->terminated) {
                EndTransfer(it);
                return;
            }
            const qsizetype length = qMin(kIncrChunk, it->data.size() - it->offset);
            // The last chunk is followed by an empty one that ends the transfer.
            XChangeProperty(m_d, window, property, it->type, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(it->data.constData() + it->offset), int(length));
            it->offset += length;
            it->lastActivityMs = NowMs();
            if (length == 0)
                EndTransfer(it);
            XFlush(m_d);
            return;
        }
    }

    std::vector<CIncrTransfer>::iterator EndTransfer(std::vector<CIncrTransfer>::iterator it)
    {
        const Window requestor = it->requestor;
        it = m_transfers.erase(it);
        bool stillUsed = false;
        for (const CIncrTransfer& other : m_transfers)
            stillUsed = stillUsed || other.requestor == requestor;
        if (!stillUsed)
            XSelectInput(m_d, requestor, NoEventMask);
        return it;
    }

    struct COffered
    {
        Atom target = 0;
        Atom type = 0;
        CClipboardItem item;
    };
    const COffered* Find(Atom target) const
    {
        for (const COffered& each : m_items) {
            if (each.target == target)
                return &each;
        }
        return nullptr;
    }

    Display* m_d;
    CSelectionAtoms m_atoms;
    std::atomic<quint64>* m_served;
    Window m_window;
    bool m_owned = false;
    Time m_ownedSince = 0;
    std::vector<COffered> m_items;
    qsizetype m_incrThreshold = 0;
    std::vector<CIncrTransfer> m_transfers;
};

} // namespace

CClipboardOwner& CClipboardOwner::Instance()
{
    static CClipboardOwner owner;
    return owner;
}

CClipboardOwner::~CClipboardOwner()
{
    Shutdown();
}

CClipboardContents TextClipboardContents(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return {{"UTF8_STRING", "UTF8_STRING", 8, utf8},
            {"text/plain;charset=utf-8", "text/plain;charset=utf-8", 8, utf8},
            {"STRING", "STRING", 8, text.toLatin1()}};
}

bool CClipboardOwner::SetText(const QString& text, int timeoutMs)
{
    return Request(TextClipboardContents(text), false, timeoutMs);
}

bool CClipboardOwner::SetContents(const CClipboardContents& contents, int timeoutMs)
{
    return Request(contents, false, timeoutMs);
}

void CClipboardOwner::Release(int timeoutMs)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_ended || m_ownerWindow == 0)
            return;
    }
    Request({}, true, timeoutMs);
}

CClipboardContents CClipboardOwner::Contents()
{
    std::lock_guard lock(m_mutex);
    return m_ownerWindow ? m_offered : CClipboardContents();
}

bool CClipboardOwner::Request(const CClipboardContents& contents, bool release, int timeoutMs)
{
    const QByteArray displayName = qgetenv("DISPLAY");
    if (displayName.isEmpty())
        return false;
    InstallXErrorHandler();
    std::unique_lock lock(m_mutex);
    if (m_ended || m_displayName != displayName) {
        StopLocked(lock);
        if (::pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        m_displayName = displayName;
        m_stop = false;
        m_ended = false;
        m_running = false;
        m_thread = std::thread([this, displayName] { Run(displayName); });
    }
    const quint64 serial = ++m_requestSerial;
    m_requestContents = contents;
    m_requestRelease = release;
    Wake();
    const bool answered = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                             [&] { return m_answeredSerial >= serial || m_ended; });
    return answered && m_answeredSerial == serial && m_answer;
}

unsigned long CClipboardOwner::OwnerWindow()
{
    std::lock_guard lock(m_mutex);
    return m_running ? m_ownerWindow : 0;
}

void CClipboardOwner::Shutdown()
{
    std::unique_lock lock(m_mutex);
    StopLocked(lock);
}

void CClipboardOwner::StopLocked(std::unique_lock<std::mutex>& lock)
{
    if (m_thread.joinable()) {
        m_stop = true;
        Wake();
        std::thread thread = std::move(m_thread);
        lock.unlock();
        thread.join();
        lock.lock();
    }
    for (int& fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    m_ended = true;
    m_running = false;
}

void CClipboardOwner::Wake()
{
    if (m_wakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakePipe[1], &byte, 1);
    }
}

void CClipboardOwner::Run(QByteArray displayName)
{
    Display* display = XOpenDisplay(displayName.constData());
    if (!display) {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
        return;
    }
    int wakeFd = -1;
    {
        std::lock_guard lock(m_mutex);
        m_running = true;
        wakeFd = m_wakePipe[0];
    }
    {
        CSelectionServer server(display, &m_served);
        quint64 handledSerial = 0;
        for (;;) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                server.Handle(event);
            }
            CClipboardContents contents;
            bool release = false;
            quint64 serial = 0;
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    break;
                if (m_requestSerial != handledSerial) {
                    serial = m_requestSerial;
                    contents = m_requestContents;
                    release = m_requestRelease;
                }
            }
            if (serial != 0) {
                bool taken = false;
                if (release)
                    server.GiveUp();
                else
                    taken = server.TakeSelection(contents);
                handledSerial = serial;
                std::lock_guard lock(m_mutex);
                m_answeredSerial = serial;
                m_answer = release || taken;
                m_ownerWindow = taken ? server.WindowId() : 0;
                m_offered = taken ? contents : CClipboardContents();
                m_changed.notify_all();
                continue;
            }
            server.DropStaleTransfers();
            pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {wakeFd, POLLIN, 0}};
            ::poll(fds, 2, server.HasTransfers() ? 1000 : -1);
            if (fds[1].revents & POLLIN) {
                char buffer[64];
                while (::read(wakeFd, buffer, sizeof buffer) > 0) {
                }
            }
            if (fds[0].revents & (POLLHUP | POLLERR))
                break;
        }
    }
    XCloseDisplay(display);
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_running = false;
    m_changed.notify_all();
}
