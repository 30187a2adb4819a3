#include "platform/ClipboardReader.h"

#include "platform/Log.h"
#include "platform/XWindows.h"

#include <chrono>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace MirelX;

namespace {

using CSteadyClock = std::chrono::steady_clock;

// Targets that name no content of their own.
bool IsMetaTarget(const QByteArray& name)
{
    static const char* const kMeta[] = {
        "TARGETS",          "MULTIPLE",        "TIMESTAMP", "DELETE",        "SAVE_TARGETS",
        "INSERT_SELECTION", "INSERT_PROPERTY", "TEXT",      "COMPOUND_TEXT", "INCR"};
    for (const char* meta : kMeta) {
        if (name == meta)
            return true;
    }
    return name.startsWith("_QT_") || name.isEmpty();
}

class CReader
{
public:
    CReader(Display* d, CSteadyClock::time_point deadline)
        : m_d(d), m_deadline(deadline), m_clipboard(AtomOf(d, "CLIPBOARD")), m_property(AtomOf(d, "_MIREL_PASTE")),
          m_incr(AtomOf(d, "INCR")), m_window(XCreateSimpleWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, 0))
    {
        XSelectInput(m_d, m_window, PropertyChangeMask);
    }
    ~CReader()
    {
        XDestroyWindow(m_d, m_window);
        XSync(m_d, False);
    }

    // One form; false when the owner refused it or did not answer in time.
    bool Convert(Atom target, CClipboardItem& item)
    {
        XDeleteProperty(m_d, m_window, m_property);
        XConvertSelection(m_d, m_clipboard, target, m_property, m_window, CurrentTime);
        XFlush(m_d);
        XEvent event;
        if (!WaitEvent(SelectionNotify, event) || event.xselection.property == 0)
            return false;
        Atom type = 0;
        int format = 0;
        QByteArray data;
        if (!Take(type, format, data))
            return false;
        if (type == m_incr) {
            // The owner sends chunks, each after we deleted the last; an empty one ends them.
            data.clear();
            for (;;) {
                if (!WaitEvent(PropertyNotify, event, PropertyNewValue))
                    return false;
                QByteArray chunk;
                if (!Take(type, format, chunk))
                    return false;
                if (chunk.isEmpty())
                    break;
                data += chunk;
                if (data.size() > kClipboardKeepLimit)
                    return false;
            }
        }
        if (type == 0 || (format != 8 && format != 16 && format != 32))
            return false;
        char* typeName = XGetAtomName(m_d, type);
        item.type = typeName ? QByteArray(typeName) : QByteArray();
        if (typeName)
            XFree(typeName);
        item.format = format;
        item.data = data;
        return !item.type.isEmpty();
    }

private:
    // Reads and deletes our property (the delete asks an INCR owner for the next chunk).
    bool Take(Atom& type, int& format, QByteArray& data)
    {
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* bytes = nullptr;
        if (XGetWindowProperty(m_d, m_window, m_property, 0, kClipboardKeepLimit / 4, True, AnyPropertyType, &type,
                               &format, &count, &after, &bytes) != Success)
            return false;
        const int unit = format == 32 ? int(sizeof(long)) : format / 8;
        if (bytes)
            data = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(count) * unit);
        if (bytes)
            XFree(bytes);
        XFlush(m_d);
        return after == 0;
    }

    bool WaitEvent(int type, XEvent& event, int propertyState = -1)
    {
        for (;;) {
            while (XCheckTypedWindowEvent(m_d, m_window, type, &event)) {
                if (type != PropertyNotify ||
                    (event.xproperty.atom == m_property && event.xproperty.state == propertyState))
                    return true;
            }
            if (CSteadyClock::now() >= m_deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    Display* m_d;
    CSteadyClock::time_point m_deadline;
    Atom m_clipboard;
    Atom m_property;
    Atom m_incr;
    Window m_window;
};

} // namespace

bool ReadClipboard(Display* d, CClipboardContents& out, int timeoutMs)
{
    out.clear();
    const Window owner = XGetSelectionOwner(d, AtomOf(d, "CLIPBOARD"));
    if (owner == 0)
        return true;
    // What we offer ourselves (given back after an earlier greeting) is at hand.
    if (owner == CClipboardOwner::Instance().OwnerWindow()) {
        out = CClipboardOwner::Instance().Contents();
        return true;
    }
    CReader reader(d, CSteadyClock::now() + std::chrono::milliseconds(timeoutMs));
    CClipboardItem targets;
    if (!reader.Convert(AtomOf(d, "TARGETS"), targets) || targets.format != 32)
        return false;
    const auto* atoms = reinterpret_cast<const unsigned long*>(targets.data.constData());
    const qsizetype count = targets.data.size() / qsizetype(sizeof(long));
    qsizetype kept = 0;
    for (qsizetype i = 0; i < count; ++i) {
        char* name = XGetAtomName(d, Atom(atoms[i]));
        const QByteArray target = name ? QByteArray(name) : QByteArray();
        if (name)
            XFree(name);
        if (IsMetaTarget(target))
            continue;
        CClipboardItem item;
        if (!reader.Convert(Atom(atoms[i]), item))
            continue;
        kept += item.data.size();
        if (kept > kClipboardKeepLimit)
            break;
        item.target = target;
        out.push_back(item);
    }
    return true;
}
