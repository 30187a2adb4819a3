#include "platform/XWindows.h"

#include <algorithm>
#include <mutex>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

constexpr int kTitleLimit = 254;

} // namespace

void InstallXErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(IgnoreXError);
    });
}

namespace MirelX {

CXDisplay::CXDisplay() : m_d(XOpenDisplay(nullptr)) {}

CXDisplay::CXDisplay(const char* name) : m_d(XOpenDisplay(name)) {}

CXDisplay::~CXDisplay()
{
    if (m_d)
        XCloseDisplay(m_d);
}

Atom AtomOf(Display* d, const char* name)
{
    return XInternAtom(d, name, False);
}

// Hands a property's items to use() when it has the format asked for.
template <typename Use> void ReadProperty(Display* d, Window w, Atom property, Atom type, int format, Use use)
{
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1 << 16, False, type, &actualType, &actualFormat, &count, &after,
                           &data) == Success &&
        data && actualFormat == format)
        use(data, count);
    if (data)
        XFree(data);
}

// The 32-bit items of a property (Xlib hands them over as longs).
std::vector<unsigned long> GetLongs(Display* d, Window w, Atom property, Atom type)
{
    std::vector<unsigned long> items;
    ReadProperty(d, w, property, type, 32, [&](const unsigned char* data, unsigned long count) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    });
    return items;
}

QByteArray GetBytes(Display* d, Window w, Atom property, Atom type)
{
    QByteArray bytes;
    ReadProperty(d, w, property, type, 8, [&](const unsigned char* data, unsigned long count) {
        bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(count));
    });
    return bytes;
}

bool Contains(const std::vector<unsigned long>& items, unsigned long value)
{
    return std::find(items.begin(), items.end(), value) != items.end();
}

// The running window manager's check window, 0 without one. A manager that
// died leaves its root property behind, so the check window must answer too.
Window WindowManager(Display* d)
{
    const Atom check = AtomOf(d, "_NET_SUPPORTING_WM_CHECK");
    const auto fromRoot = GetLongs(d, DefaultRootWindow(d), check, XA_WINDOW);
    if (fromRoot.empty() || fromRoot[0] == 0)
        return 0;
    const auto fromItself = GetLongs(d, fromRoot[0], check, XA_WINDOW);
    return !fromItself.empty() && fromItself[0] == fromRoot[0] ? fromRoot[0] : 0;
}

bool WmSupports(Display* d, const char* name)
{
    return Contains(GetLongs(d, DefaultRootWindow(d), AtomOf(d, "_NET_SUPPORTED"), XA_ATOM), AtomOf(d, name));
}

// ICCCM WM_STATE: 1 normal, 3 iconic; -1 when the window has none.
long WmState(Display* d, Window w)
{
    const Atom wmState = AtomOf(d, "WM_STATE");
    const auto items = GetLongs(d, w, wmState, wmState);
    return items.empty() ? -1 : long(items[0]);
}

void SetWmState(Display* d, Window w, long state)
{
    const Atom wmState = AtomOf(d, "WM_STATE");
    const long value[2] = {state, 0};
    XChangeProperty(d, w, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(value), 2);
}

bool IsMinimised(Display* d, Window w)
{
    if (WmState(d, w) == IconicState)
        return true;
    return Contains(GetLongs(d, w, AtomOf(d, "_NET_WM_STATE"), XA_ATOM), AtomOf(d, "_NET_WM_STATE_HIDDEN"));
}

bool IsMappedViewable(Display* d, Window w)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsViewable;
}

// The X counterpart of a tool window: the helper window types.
bool IsToolWindow(Display* d, Window w)
{
    static const char* const kToolTypes[] = {
        "_NET_WM_WINDOW_TYPE_TOOLBAR",       "_NET_WM_WINDOW_TYPE_UTILITY",    "_NET_WM_WINDOW_TYPE_MENU",
        "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_TOOLTIP",
        "_NET_WM_WINDOW_TYPE_NOTIFICATION",  "_NET_WM_WINDOW_TYPE_COMBO",      "_NET_WM_WINDOW_TYPE_DND"};
    const auto types = GetLongs(d, w, AtomOf(d, "_NET_WM_WINDOW_TYPE"), XA_ATOM);
    for (const char* name : kToolTypes) {
        if (Contains(types, AtomOf(d, name)))
            return true;
    }
    return false;
}

QString WindowTitle(Display* d, Window w)
{
    const QByteArray netName = GetBytes(d, w, AtomOf(d, "_NET_WM_NAME"), AtomOf(d, "UTF8_STRING"));
    if (!netName.isEmpty())
        return QString::fromUtf8(netName);
    QString title;
    XTextProperty property{};
    if (XGetWMName(d, w, &property) && property.value) {
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(d, &property, &list, &count) >= Success && list) {
            if (count > 0 && list[0])
                title = QString::fromUtf8(list[0]);
            XFreeStringList(list);
        }
        XFree(property.value);
    }
    return title;
}

QString WindowClass(Display* d, Window w)
{
    QString className;
    XClassHint hint{};
    if (XGetClassHint(d, w, &hint)) {
        if (hint.res_class)
            className = QString::fromUtf8(hint.res_class);
        if (hint.res_name)
            XFree(hint.res_name);
        if (hint.res_class)
            XFree(hint.res_class);
    }
    return className;
}

// The window's parent (0 when it is gone) and, when asked for, its children bottom first.
Window QueryTree(Display* d, Window w, std::vector<Window>* children)
{
    Window root = 0;
    Window parent = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &root, &parent, &list, &count))
        parent = 0;
    if (children && list)
        children->assign(list, list + count);
    if (list)
        XFree(list);
    return parent;
}

std::vector<Window> Children(Display* d, Window w)
{
    std::vector<Window> children;
    QueryTree(d, w, &children);
    return children;
}

Window ParentOf(Display* d, Window w)
{
    return QueryTree(d, w, nullptr);
}

// Below a window manager's frame the application's window carries WM_STATE.
Window ClientOf(Display* d, Window w, int depth)
{
    if (WmState(d, w) >= 0)
        return w;
    if (depth < 3) {
        for (Window child : Children(d, w)) {
            const Window client = ClientOf(d, child, depth + 1);
            if (WmState(d, client) >= 0)
                return client;
        }
    }
    return w;
}

// The ancestor that is a child of the root: a window manager's frame, or the window itself.
Window TopAncestor(Display* d, Window w)
{
    const Window root = DefaultRootWindow(d);
    Window current = w;
    for (int i = 0; i < 16; ++i) {
        const Window parent = ParentOf(d, current);
        if (parent == 0 || parent == root)
            return current;
        current = parent;
    }
    return current;
}

bool FocusWithin(Display* d, Window w)
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    const Window root = DefaultRootWindow(d);
    for (int i = 0; i < 16 && focus != 0 && focus != PointerRoot && focus != root; ++i) {
        if (focus == w)
            return true;
        focus = ParentOf(d, focus);
    }
    return false;
}

void SetCardinal(Display* d, Window w, Atom property, long value)
{
    XChangeProperty(d, w, property, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&value),
                    1);
    XSync(d, False);
}

Window SelectionOwner(Display* d, const char* selection)
{
    return XGetSelectionOwner(d, AtomOf(d, selection));
}

} // namespace MirelX

using namespace MirelX;

bool EnumTopWindowsProc(Display* d, unsigned long window, std::vector<CTaskManage>* list)
{
    if (!d || window == 0 || !list)
        return false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, window, &attributes) || attributes.override_redirect)
        return true;
    // A minimised window counts as shown, as it does on any desktop.
    if (attributes.map_state != IsViewable && !IsMinimised(d, window))
        return true;
    if (IsToolWindow(d, window))
        return true;
    Window owner = 0;
    if (XGetTransientForHint(d, window, &owner) && owner != 0)
        return true;
    const QString title = WindowTitle(d, window).left(kTitleLimit);
    if (title.isEmpty())
        return true;
    const QString className = WindowClass(d, window).left(kTitleLimit);
    if (className.isEmpty())
        return true;
    list->push_back({title, className, window});
    return true;
}

bool EnumTopWindows(Display* d, std::vector<CTaskManage>& list)
{
    list.clear();
    if (!d)
        return false;
    InstallXErrorHandler();
    const Window root = DefaultRootWindow(d);
    std::vector<unsigned long> windows;
    if (WindowManager(d)) {
        // Top of the stack first, like the desktop's own enumeration.
        windows = GetLongs(d, root, AtomOf(d, "_NET_CLIENT_LIST_STACKING"), XA_WINDOW);
        if (windows.empty())
            windows = GetLongs(d, root, AtomOf(d, "_NET_CLIENT_LIST"), XA_WINDOW);
        std::reverse(windows.begin(), windows.end());
    }
    if (windows.empty()) {
        const std::vector<Window> children = Children(d, root);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            windows.push_back(ClientOf(d, *it));
    }
    for (unsigned long window : windows) {
        if (!EnumTopWindowsProc(d, window, &list))
            break;
    }
    return true;
}
