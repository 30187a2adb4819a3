#include "greet/ImClient.h"

#include "greet/ClipboardOwner.h"
#include "platform/AbortScope.h"
#include "platform/Clock.h"
#include "platform/Launcher.h"
#include "platform/Log.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

std::mutex g_mutex;
GreetingSender g_sender;
CImClientTiming g_timing;

const QString kChatWindowClass = QStringLiteral("BaseGui");
constexpr int kTitleLimit = 254;

int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

class CDisplay
{
public:
    CDisplay() : m_d(XOpenDisplay(nullptr)) {}
    ~CDisplay()
    {
        if (m_d)
            XCloseDisplay(m_d);
    }
    CDisplay(const CDisplay&) = delete;
    CDisplay& operator=(const CDisplay&) = delete;
    Display* get() const { return m_d; }

private:
    Display* m_d;
};

Atom AtomOf(Display* d, const char* name)
{
    return XInternAtom(d, name, False);
}

// The 32-bit items of a property (Xlib hands them over as longs).
std::vector<unsigned long> GetLongs(Display* d, Window w, Atom property, Atom type)
{
    std::vector<unsigned long> items;
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1 << 16, False, type, &actualType, &actualFormat, &count, &after,
                           &data) == Success &&
        data && actualFormat == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        items.assign(values, values + count);
    }
    if (data)
        XFree(data);
    return items;
}

QByteArray GetBytes(Display* d, Window w, Atom property, Atom type)
{
    QByteArray bytes;
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1 << 16, False, type, &actualType, &actualFormat, &count, &after,
                           &data) == Success &&
        data && actualFormat == 8)
        bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(count));
    if (data)
        XFree(data);
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

std::vector<Window> Children(Display* d, Window w)
{
    std::vector<Window> children;
    Window root = 0;
    Window parent = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    if (XQueryTree(d, w, &root, &parent, &list, &count) && list)
        children.assign(list, list + count);
    if (list)
        XFree(list);
    return children;
}

Window ParentOf(Display* d, Window w)
{
    Window root = 0;
    Window parent = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, w, &root, &parent, &list, &count))
        parent = 0;
    if (list)
        XFree(list);
    return parent;
}

// Below a window manager's frame the application's window carries WM_STATE.
Window ClientOf(Display* d, Window w, int depth = 0)
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

bool IsForeground(Display* d, Window w, bool managed)
{
    if (managed) {
        const auto active = GetLongs(d, DefaultRootWindow(d), AtomOf(d, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
        if (!active.empty() && active[0] == w)
            return FocusWithin(d, w) || !IsMinimised(d, w);
    }
    return IsMappedViewable(d, w) && FocusWithin(d, w);
}

void RequestActivation(Display* d, Window w)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = AtomOf(d, "_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // asked for by a pager: not refused as focus stealing
    event.xclient.data.l[1] = CurrentTime;
    const auto active = GetLongs(d, DefaultRootWindow(d), AtomOf(d, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
    event.xclient.data.l[2] = active.empty() ? 0 : long(active[0]);
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

bool WaitFor(int timeoutMs, const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline || AbortRequested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// A pause of the send; false when the greeting thread was asked to stop meanwhile.
bool Pause(int ms)
{
    if (AbortRequested())
        return false;
    SleepMs(ms);
    return !AbortRequested();
}

// Brings the chat window to the front with the keyboard focus, restoring it when minimised.
void Activate(Display* d, Window w, int timeoutMs)
{
    const bool managed = WindowManager(d) != 0;
    if (IsForeground(d, w, managed))
        return;
    const bool minimised = IsMinimised(d, w) || !IsMappedViewable(d, w);
    if (managed && WmSupports(d, "_NET_ACTIVE_WINDOW")) {
        if (minimised)
            XMapWindow(d, w); // the manager takes the map request as "restore"
        RequestActivation(d, w);
        XSync(d, False);
        WaitFor(timeoutMs / 2, [&] { return IsMappedViewable(d, w) && FocusWithin(d, w); });
    } else {
        if (minimised) {
            // Nobody else keeps the state without a window manager.
            XMapRaised(d, w);
            if (WmState(d, w) >= 0)
                SetWmState(d, w, NormalState);
        } else {
            XRaiseWindow(d, w);
        }
        XSync(d, False);
        WaitFor(timeoutMs / 2, [&] { return IsMappedViewable(d, w); });
    }
    if (!FocusWithin(d, w) && IsMappedViewable(d, w)) {
        XSetInputFocus(d, w, RevertToParent, CurrentTime);
        XSync(d, False);
    }
    WaitFor(timeoutMs / 2, [&] { return IsMappedViewable(d, w) && FocusWithin(d, w); });
}

struct CRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The window's outer rectangle on the screen, its frame included.
bool WindowRect(Display* d, Window w, CRect& rect)
{
    const Window outer = TopAncestor(d, w);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, outer, &attributes))
        return false;
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(d, outer, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    rect.left = x - attributes.border_width;
    rect.top = y - attributes.border_width;
    rect.right = x + attributes.width + attributes.border_width;
    rect.bottom = y + attributes.height + attributes.border_width;
    if (outer == w) {
        // A manager that draws no frame window of its own reports its decorations here.
        const auto extents = GetLongs(d, w, AtomOf(d, "_NET_FRAME_EXTENTS"), XA_CARDINAL);
        if (extents.size() == 4) {
            rect.left -= int(extents[0]);
            rect.right += int(extents[1]);
            rect.top -= int(extents[2]);
            rect.bottom += int(extents[3]);
        }
    }
    return true;
}

void Click(Display* d)
{
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
}

// Another client holds a keyboard grab (a screen locker, a menu): a grab of our
// own is refused. Ours, when it succeeds, is given back at once.
// A window manager grabs for a moment while it handles a click; a locker holds
// its grab. A few short tries tell the two apart.
bool KeyboardGrabbedElsewhere(Display* d)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int result = XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        if (result == GrabSuccess) {
            XUngrabKeyboard(d, CurrentTime);
            XSync(d, False);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Where the pointer is on the screen; false when it is on another screen.
bool PointerPosition(Display* d, int& x, int& y)
{
    Window rootReturn = 0;
    Window child = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    return XQueryPointer(d, DefaultRootWindow(d), &rootReturn, &child, &x, &y, &windowX, &windowY, &mask);
}

bool PointerInside(Display* d, const CRect& rect)
{
    int x = 0;
    int y = 0;
    if (!PointerPosition(d, x, y))
        return false;
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

bool ClipboardStillOurs(Display* d)
{
    const unsigned long ours = CClipboardOwner::Instance().OwnerWindow();
    return ours != 0 && XGetSelectionOwner(d, AtomOf(d, "CLIPBOARD")) == ours;
}

// Checked right before every click and key of a send, so input never lands
// anywhere but the chat: another client's grab or a focus that moved holds the
// greeting for a later pass; a pointer outside the chat or a clipboard that
// changed hands fails it.
int GuardInput(Display* d, Window chat, const CRect& rect, bool paste, const char* step)
{
    XSync(d, False);
    if (KeyboardGrabbedElsewhere(d)) {
        qCInfo(LogGreet) << "greeting held before" << step << "- another client holds a keyboard grab";
        return kGreetingHeld;
    }
    if (!FocusWithin(d, chat)) {
        qCInfo(LogGreet) << "greeting held before" << step << "- the chat window lost the focus";
        return kGreetingHeld;
    }
    if (!PointerInside(d, rect)) {
        qCWarning(LogGreet) << "greeting failed before" << step << "- the pointer left the chat window";
        return kGreetingFailed;
    }
    if (paste && !ClipboardStillOurs(d)) {
        qCWarning(LogGreet) << "greeting failed before" << step << "- the clipboard changed owner";
        return kGreetingFailed;
    }
    return kGreetingSent;
}

void MovePointer(Display* d, int x, int y)
{
    XTestFakeMotionEvent(d, DefaultScreen(d), x, y, CurrentTime);
    XSync(d, False);
}

void AskToClose(Display* d, Window w)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = AtomOf(d, "WM_PROTOCOLS");
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(AtomOf(d, "WM_DELETE_WINDOW"));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &event);
    XSync(d, False);
}

} // namespace

void InstallXErrorHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(IgnoreXError);
    });
}

// A value of the chat link: only what would cut it short or change it
// (% & # + = and blanks) is percent-encoded; the IM client decodes it.
QString ChatLinkValue(const QString& value)
{
    static const char kHex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u == '%' || u == '&' || u == '#' || u == '+' || u == '=' || u == ' ' || (u >= '\t' && u <= '\r')) {
            out += QLatin1Char('%');
            out += QLatin1Char(kHex[u >> 4]);
            out += QLatin1Char(kHex[u & 0x0F]);
        } else {
            out += c;
        }
    }
    return out;
}

QString ChatLink(const QString& account, const QString& visitor)
{
    return QStringLiteral("lumochat://message/?sid=%1&id=%2&clk=icon&src=space&browser=IE")
        .arg(ChatLinkValue(account), ChatLinkValue(visitor));
}

CImClientTiming ImClientTiming()
{
    std::lock_guard lock(g_mutex);
    return g_timing;
}

CImClientTiming SetImClientTiming(const CImClientTiming& timing)
{
    std::lock_guard lock(g_mutex);
    const CImClientTiming previous = g_timing;
    g_timing = timing;
    return previous;
}

GreetingSender SetGreetingSender(GreetingSender sender)
{
    std::lock_guard lock(g_mutex);
    std::swap(g_sender, sender);
    return sender;
}

int SendGreeting(const QString& account, const QString& visitor, const QString& text)
{
    GreetingSender sender;
    {
        std::lock_guard lock(g_mutex);
        sender = g_sender;
    }
    return sender ? sender(account, visitor, text) : SendGreetingThroughClient(account, visitor, text);
}

bool SetClipboardText(const QString& text)
{
    if (text.isEmpty())
        return true;
    return CClipboardOwner::Instance().SetText(text);
}

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

unsigned long FindChatWindow(Display* d, const QString& visitor)
{
    std::vector<CTaskManage> list;
    EnumTopWindows(d, list);
    for (const CTaskManage& task : list) {
        if (task.m_className == kChatWindowClass && task.m_title.contains(visitor, Qt::CaseSensitive))
            return task.m_window;
    }
    return 0;
}

void PressKeys(Display* d, unsigned long key1, unsigned long key2, unsigned long key3)
{
    if (!d)
        return;
    std::vector<KeyCode> codes;
    for (unsigned long key : {key1, key2, key3}) {
        if (key == 0)
            break;
        const KeyCode code = XKeysymToKeycode(d, KeySym(key));
        if (code != 0)
            codes.push_back(code);
    }
    for (KeyCode code : codes)
        XTestFakeKeyEvent(d, code, True, CurrentTime);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it)
        XTestFakeKeyEvent(d, *it, False, CurrentTime);
    XSync(d, False);
}

int SendGreetingThroughClient(const QString& account, const QString& visitor, const QString& text)
{
    InstallXErrorHandler();
    CDisplay display;
    Display* d = display.get();
    if (!d)
        return kGreetingFailed;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor))
        return kGreetingFailed;
    const CImClientTiming timing = ImClientTiming();

    if (!OpenWithDesktop(ChatLink(account, visitor), true, timing.launchWaitMs, [] { return AbortRequested(); })) {
        qCWarning(LogGreet) << "greeting failed: the link opener did not start";
        return kGreetingFailed;
    }

    Window chat = 0;
    for (int attempt = 0; attempt < timing.searchAttempts && chat == 0; ++attempt) {
        chat = FindChatWindow(d, visitor);
        if (!Pause(timing.searchIntervalMs))
            return kGreetingFailed;
    }
    if (chat == 0) {
        qCWarning(LogGreet) << "greeting failed: no chat window appeared";
        return kGreetingFailed;
    }

    // Pasting an old clipboard into the visitor's chat would be worse than not greeting.
    if (!SetClipboardText(text)) {
        qCWarning(LogGreet) << "greeting failed: the clipboard could not be taken";
        return kGreetingFailed;
    }

    Activate(d, chat, timing.activateTimeoutMs);
    CRect rect;
    if (!WindowRect(d, chat, rect))
        return kGreetingFailed;
    if (IsMappedViewable(d, chat) && !KeyboardGrabbedElsewhere(d))
        XSetInputFocus(d, chat, RevertToParent, CurrentTime);
    XSync(d, False);
    if (!Pause(timing.focusPauseMs))
        return kGreetingFailed;

    // The pointer goes back where the owner left it, however the send ends.
    int savedX = 0;
    int savedY = 0;
    const bool known = PointerPosition(d, savedX, savedY);
    struct CPointerBack
    {
        Display* d;
        bool known;
        int x;
        int y;
        ~CPointerBack()
        {
            if (known)
                MovePointer(d, x, y);
        }
    } pointerBack{d, known, savedX, savedY};

    MovePointer(d, rect.left + 50, rect.bottom - 50);
    int guard = GuardInput(d, chat, rect, false, "the click");
    if (guard != kGreetingSent)
        return guard;
    Click(d);

    guard = GuardInput(d, chat, rect, true, "the paste");
    if (guard != kGreetingSent)
        return guard;
    PressKeys(d, XK_Control_L, XK_v);
    if (!Pause(timing.pastePauseMs))
        return kGreetingFailed;

    guard = GuardInput(d, chat, rect, false, "the send keys");
    if (guard != kGreetingSent)
        return guard;
    PressKeys(d, XK_Control_L, XK_Return);
    guard = GuardInput(d, chat, rect, false, "Enter");
    if (guard != kGreetingSent)
        return guard;
    PressKeys(d, XK_Return);
    Pause(timing.sentPauseMs);

    AskToClose(d, chat);
    return kGreetingSent;
}
