#include "support/XvfbSession.h"

#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

std::vector<unsigned long> Longs(Display* d, Window w, const char* property, Atom type)
{
    std::vector<unsigned long> items;
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, XInternAtom(d, property, False), 0, 1024, False, type, &actualType, &format, &count,
                           &after, &data) == Success &&
        data && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    if (data)
        XFree(data);
    return items;
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

} // namespace

CXConnection::CXConnection() : m_display(XOpenDisplay(nullptr))
{
    XSetErrorHandler(IgnoreErrors);
}

CXConnection::~CXConnection()
{
    if (m_display)
        XCloseDisplay(m_display);
}

CWindowManager::~CWindowManager()
{
    Stop();
}

bool CWindowManager::Start()
{
    m_process.setProgram(QStringLiteral("matchbox-window-manager"));
    m_process.setArguments({QStringLiteral("-use_titlebar"), QStringLiteral("yes")});
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    return WaitUntil([] { return Managed(); }, 10000);
}

bool CWindowManager::Stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    return WaitUntil([] { return !Managed(); }, 5000);
}

bool CWindowManager::Managed()
{
    CXConnection x;
    if (!x)
        return false;
    Display* d = x.get();
    const auto fromRoot = Longs(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    if (fromRoot.empty() || fromRoot[0] == 0)
        return false;
    const auto fromItself = Longs(d, fromRoot[0], "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    return !fromItself.empty() && fromItself[0] == fromRoot[0];
}

QPoint PointerPosition()
{
    CXConnection x;
    if (!x)
        return {};
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    XQueryPointer(x.get(), DefaultRootWindow(x.get()), &root, &child, &rootX, &rootY, &windowX, &windowY, &mask);
    return {rootX, rootY};
}

void WarpPointer(const QPoint& where)
{
    CXConnection x;
    if (!x)
        return;
    XWarpPointer(x.get(), 0, DefaultRootWindow(x.get()), 0, 0, 0, 0, where.x(), where.y());
    XSync(x.get(), False);
}

bool IsWindowViewable(unsigned long window)
{
    CXConnection x;
    XWindowAttributes attributes;
    return x && XGetWindowAttributes(x.get(), window, &attributes) && attributes.map_state == IsViewable;
}

bool IsWindowMinimised(unsigned long window)
{
    CXConnection x;
    if (!x)
        return false;
    Display* d = x.get();
    const auto state = Longs(d, window, "WM_STATE", XInternAtom(d, "WM_STATE", False));
    if (!state.empty() && state[0] == IconicState)
        return true;
    const auto netState = Longs(d, window, "_NET_WM_STATE", XA_ATOM);
    const Atom hidden = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
    for (unsigned long atom : netState) {
        if (atom == hidden)
            return true;
    }
    return false;
}

void MinimiseWindow(unsigned long window)
{
    CXConnection x;
    if (!x)
        return;
    Display* d = x.get();
    if (CWindowManager::Managed()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(d, "WM_CHANGE_STATE", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = IconicState;
        XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else {
        XUnmapWindow(d, window);
        const Atom wmState = XInternAtom(d, "WM_STATE", False);
        const long value[2] = {IconicState, 0};
        XChangeProperty(d, window, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(value),
                        2);
    }
    XSync(d, False);
}

void FocusWindow(unsigned long window)
{
    CXConnection x;
    if (!x)
        return;
    XRaiseWindow(x.get(), window);
    XSetInputFocus(x.get(), window, RevertToParent, CurrentTime);
    XSync(x.get(), False);
}

void ClickAt(const QPoint& where)
{
    CXConnection x;
    if (!x)
        return;
    XTestFakeMotionEvent(x.get(), DefaultScreen(x.get()), where.x(), where.y(), CurrentTime);
    XTestFakeButtonEvent(x.get(), 1, True, CurrentTime);
    XTestFakeButtonEvent(x.get(), 1, False, CurrentTime);
    XSync(x.get(), False);
}

void RequestClose(unsigned long window)
{
    CXConnection x;
    if (!x)
        return;
    Display* d = x.get();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &event);
    XSync(d, False);
}

bool WindowFrame(unsigned long window, int& left, int& top, int& right, int& bottom)
{
    CXConnection x;
    if (!x)
        return false;
    Display* d = x.get();
    Window current = window;
    for (int i = 0; i < 16; ++i) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, current, &root, &parent, &children, &count))
            return false;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            break;
        current = parent;
    }
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, current, &attributes))
        return false;
    left = attributes.x;
    top = attributes.y;
    right = attributes.x + attributes.width + 2 * attributes.border_width;
    bottom = attributes.y + attributes.height + 2 * attributes.border_width;
    return true;
}

bool ConvertClipboard(const QString& target, QByteArray& data, QString& type, int timeoutMs)
{
    data.clear();
    type.clear();
    CXConnection x;
    if (!x)
        return false;
    Display* d = x.get();
    const Window requestor = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    const Atom targetAtom = XInternAtom(d, target.toUtf8().constData(), False);
    const Atom property = XInternAtom(d, "_MIREL_TEST_PASTE", False);
    XConvertSelection(d, XInternAtom(d, "CLIPBOARD", False), targetAtom, property, requestor, CurrentTime);
    XFlush(d);
    XEvent event{};
    const bool answered =
        WaitUntil([&] { return XCheckTypedWindowEvent(d, requestor, SelectionNotify, &event) == True; }, timeoutMs, 5);
    bool ok = false;
    if (answered && event.xselection.property != 0) {
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* bytes = nullptr;
        if (XGetWindowProperty(d, requestor, property, 0, 1 << 24, True, AnyPropertyType, &actualType, &format, &count,
                               &after, &bytes) == Success) {
            char* typeName = XGetAtomName(d, actualType);
            type = QString::fromUtf8(typeName ? typeName : "");
            if (typeName)
                XFree(typeName);
            if (format == 32 && actualType == XA_ATOM) {
                const auto* atoms = reinterpret_cast<const unsigned long*>(bytes);
                for (unsigned long i = 0; i < count; ++i) {
                    char* name = XGetAtomName(d, Atom(atoms[i]));
                    data += QByteArray(name ? name : "") + '\n';
                    if (name)
                        XFree(name);
                }
            } else if (format == 8 && bytes) {
                data = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(count));
            }
            ok = true;
        }
        if (bytes)
            XFree(bytes);
    }
    XDestroyWindow(d, requestor);
    XSync(d, False);
    return ok;
}

CTestWindow::CTestWindow(const QString& title, const QString& className, const COptions& options)
{
    Display* d = m_connection.get();
    if (!d)
        return;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = options.overrideRedirect ? True : False;
    m_window = XCreateWindow(d, DefaultRootWindow(d), 10, 10, 200, 150, 0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect, &attributes);
    const QByteArray utf8Title = title.toUtf8();
    XChangeProperty(d, m_window, XInternAtom(d, "_NET_WM_NAME", False), XInternAtom(d, "UTF8_STRING", False), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(utf8Title.constData()),
                    int(utf8Title.size()));
    QByteArray classHint = QByteArray("testwindow") + '\0' + className.toUtf8() + '\0';
    XChangeProperty(d, m_window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(classHint.constData()), int(classHint.size()));
    if (options.toolWindow) {
        const Atom type = XInternAtom(d, "_NET_WM_WINDOW_TYPE_UTILITY", False);
        XChangeProperty(d, m_window, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&type), 1);
    }
    if (options.transientFor)
        XSetTransientForHint(d, m_window, options.transientFor);
    if (options.map)
        XMapRaised(d, m_window);
    XSync(d, False);
}

CTestWindow::~CTestWindow()
{
    if (m_window && m_connection) {
        XDestroyWindow(m_connection.get(), m_window);
        XSync(m_connection.get(), False);
    }
}

void CTestWindow::Raise()
{
    if (m_window && m_connection) {
        XRaiseWindow(m_connection.get(), m_window);
        XSync(m_connection.get(), False);
    }
}
