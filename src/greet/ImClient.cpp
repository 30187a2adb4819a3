#include "greet/ImClient.h"

#include "greet/ClipboardOwner.h"
#include "greet/ClipboardReader.h"
#include "greet/XWindows.h"
#include "platform/AbortScope.h"
#include "platform/Clock.h"
#include "platform/Launcher.h"
#include "platform/Log.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace MirelX;

namespace {

std::mutex g_mutex;
GreetingStepHook g_stepHook;
// Marks a chat window left with part of a greeting in its input: never typed into again
// while it is open. The mark lives on the window, so it goes with it (X reuses window ids).
const char kUnsentMark[] = "_MIREL_UNSENT_GREETING";

void StepDone(EGreetStep step)
{
    GreetingStepHook hook;
    {
        std::lock_guard lock(g_mutex);
        hook = g_stepHook;
    }
    if (hook)
        hook(step);
}

bool IsUnfinishedChat(Display* d, Window chat)
{
    return !GetLongs(d, chat, AtomOf(d, kUnsentMark), XA_CARDINAL).empty();
}

void MarkUnfinishedChat(Display* d, Window chat)
{
    const long one = 1;
    XChangeProperty(d, chat, AtomOf(d, kUnsentMark), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&one), 1);
    XSync(d, False);
}
GreetingSender g_sender;
CImClientTiming g_timing;

// The owner's clipboard is read before the greeting takes it; an owner this slow is not waited for.
constexpr int kClipboardReadMs = 2000;
// After Ctrl+V the chat asks for the text; until it has, the owner's clipboard is not given back.
constexpr int kPasteServedMs = 3000;

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
// anywhere but the chat: another client's grab or a focus that moved gives
// its reason, a pointer outside the chat or a clipboard that changed hands
// gives Failed; None when the input may go on.
EGreetReason GuardInput(Display* d, Window chat, const CRect& rect, bool paste)
{
    XSync(d, False);
    if (KeyboardGrabbedElsewhere(d))
        return EGreetReason::Grab;
    if (!FocusWithin(d, chat))
        return EGreetReason::FocusLost;
    if (!PointerInside(d, rect) || (paste && !ClipboardStillOurs(d)))
        return EGreetReason::Failed;
    return EGreetReason::Sent;
}

const char* GuardText(EGreetReason reason)
{
    switch (reason) {
    case EGreetReason::Grab:
        return "another client holds a keyboard grab";
    case EGreetReason::FocusLost:
        return "the chat window lost the focus";
    default:
        return "the pointer left the chat window or the clipboard changed owner";
    }
}

int Held(EGreetReason reason)
{
    qCInfo(LogGreet) << "greeting held before the click -" << GuardText(reason);
    SetLastGreetReason(reason);
    return kGreetingHeld;
}

// Part of the greeting may be in the chat's input now: it stays there, for the owner to finish or clear.
int FailedAfterClick(Display* d, Window chat, EGreetReason reason, const char* step)
{
    if (std::strcmp(step, "the paste") != 0)
        MarkUnfinishedChat(d, chat);
    qCWarning(LogGreet) << "greeting not sent, stopped before" << step << "-" << GuardText(reason)
                        << "; the chat stays open";
    SetLastGreetReason(reason);
    return kGreetingFailed;
}

int Failed(EGreetReason reason, const char* why)
{
    qCWarning(LogGreet) << "greeting failed:" << why;
    SetLastGreetReason(reason);
    return kGreetingFailed;
}

// Gives the owner's clipboard back once the greeting's paste is done with it
// (or at once when the send ends before the paste).
class CClipboardGiveBack
{
public:
    CClipboardGiveBack(bool known, CClipboardContents previous) : m_known(known), m_previous(std::move(previous)) {}
    ~CClipboardGiveBack() { GiveBack(); }
    void Keep() { m_known = false; }
    void GiveBack()
    {
        if (!m_known)
            return;
        m_known = false;
        if (m_previous.empty())
            CClipboardOwner::Instance().Release();
        else if (!CClipboardOwner::Instance().SetContents(m_previous))
            qCWarning(LogGreet) << "the owner's clipboard could not be given back";
    }

private:
    bool m_known;
    CClipboardContents m_previous;
};

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

GreetingStepHook SetGreetingStepHook(GreetingStepHook hook)
{
    std::lock_guard lock(g_mutex);
    std::swap(g_stepHook, hook);
    return hook;
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
    SetLastGreetReason(EGreetReason::Sent);
    const int result = sender ? sender(account, visitor, text) : SendGreetingThroughClient(account, visitor, text);
    if (result != kGreetingSent && LastGreetReason() == EGreetReason::Sent)
        SetLastGreetReason(EGreetReason::Failed);
    if (result == kGreetingSent)
        SetLastGreetReason(EGreetReason::Sent);
    return result;
}

bool SetClipboardText(const QString& text)
{
    if (text.isEmpty())
        return true;
    return CClipboardOwner::Instance().SetText(text);
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
        return Failed(EGreetReason::Failed, "no X display");
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor))
        return Failed(EGreetReason::Failed, "the X server has no XTest");
    const CImClientTiming timing = ImClientTiming();

    // The chat is the window this link opens or raises, not another chat that happens to match.
    const CTopWindowSnapshot before = SnapshotTopWindows(d);
    if (!OpenWithDesktop(ChatLink(account, visitor), true, timing.launchWaitMs, [] { return AbortRequested(); }))
        return Failed(EGreetReason::Failed, "the link opener did not start");

    Window chat = 0;
    int candidates = 0;
    for (int attempt = 0; attempt < timing.searchAttempts && chat == 0; ++attempt) {
        chat = FindChatWindowForLink(d, visitor, before, &candidates);
        if (candidates > 1)
            return Failed(EGreetReason::SeveralWindows, "several chat windows name the visitor; none is typed into");
        if (!Pause(timing.searchIntervalMs))
            return Failed(EGreetReason::Failed, "stopped");
    }
    if (chat == 0)
        return Failed(EGreetReason::NoWindow, "no chat window appeared");
    // Its input may still hold an earlier greeting: a paste now would send both in one message.
    if (IsUnfinishedChat(d, chat))
        return Failed(EGreetReason::Failed, "the chat window still holds an unsent greeting");

    CClipboardContents previous;
    const bool known = ReadClipboard(d, previous, kClipboardReadMs);
    if (!known)
        qCWarning(LogGreet) << "the owner's clipboard did not answer; it cannot be given back after the greeting";
    // Pasting an old clipboard into the visitor's chat would be worse than not greeting.
    if (!SetClipboardText(text))
        return Failed(EGreetReason::Failed, "the clipboard could not be taken");
    CClipboardGiveBack giveBack(known, previous);

    Activate(d, chat, timing.activateTimeoutMs);
    CRect rect;
    if (!WindowRect(d, chat, rect))
        return Failed(EGreetReason::NoWindow, "the chat window went away");
    if (IsMappedViewable(d, chat) && !KeyboardGrabbedElsewhere(d))
        XSetInputFocus(d, chat, RevertToParent, CurrentTime);
    XSync(d, False);
    if (!Pause(timing.focusPauseMs))
        return Failed(EGreetReason::Failed, "stopped");

    // The pointer goes back where the owner left it, however the send ends.
    int savedX = 0;
    int savedY = 0;
    const bool pointerKnown = PointerPosition(d, savedX, savedY);
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
    } pointerBack{d, pointerKnown, savedX, savedY};

    MovePointer(d, rect.left + 50, rect.bottom - 50);
    // Up to the click nothing has reached the chat: a grab or a stolen focus is worth another pass.
    EGreetReason guard = GuardInput(d, chat, rect, false);
    if (guard == EGreetReason::Grab || guard == EGreetReason::FocusLost)
        return Held(guard);
    if (guard != EGreetReason::Sent)
        return Failed(guard, "the pointer left the chat window");
    Click(d);

    // From here on the greeting is never tried again: its text may be in the input.
    guard = GuardInput(d, chat, rect, true);
    if (guard != EGreetReason::Sent)
        return FailedAfterClick(d, chat, guard, "the paste");
    const quint64 served = CClipboardOwner::Instance().ServedRequests();
    PressKeys(d, XK_Control_L, XK_v);
    StepDone(EGreetStep::Pasted);
    const bool pasted = Pause(timing.pastePauseMs) &&
                        WaitFor(kPasteServedMs, [&] { return CClipboardOwner::Instance().ServedRequests() > served; });
    if (!pasted) {
        // A paste that comes later must find the greeting, never the owner's own clipboard.
        giveBack.Keep();
        MarkUnfinishedChat(d, chat);
        return Failed(EGreetReason::Failed,
                      "stopped, or the chat never asked for the pasted text; nothing more is typed");
    }
    giveBack.GiveBack();

    guard = GuardInput(d, chat, rect, false);
    if (guard != EGreetReason::Sent)
        return FailedAfterClick(d, chat, guard, "the send keys");
    PressKeys(d, XK_Control_L, XK_Return);
    StepDone(EGreetStep::CtrlEnterPressed);
    // Ctrl+Enter sends in the clients we drive: Enter is only for those where it does not.
    guard = GuardInput(d, chat, rect, false);
    if (guard == EGreetReason::Sent)
        PressKeys(d, XK_Return);
    else
        qCInfo(LogGreet) << "greeting sent with Ctrl+Enter; Enter not pressed -" << GuardText(guard);
    Pause(timing.sentPauseMs);

    AskToClose(d, chat);
    return kGreetingSent;
}
