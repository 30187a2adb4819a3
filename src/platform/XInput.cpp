#include "platform/XInput.h"

#include "platform/AbortScope.h"
#include "platform/XWindows.h"

#include <chrono>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

using namespace MirelX;

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

namespace {

bool IsForeground(Display* d, Window w, bool managed)
{
    if (managed) {
        const auto active = GetLongs(d, DefaultRootWindow(d), AtomOf(d, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
        if (!active.empty() && active[0] == w)
            return FocusWithin(d, w) || !IsMinimised(d, w);
    }
    return IsMappedViewable(d, w) && FocusWithin(d, w);
}

// A client message of 32-bit items to w, or to the root for the window manager.
void SendClientMessage(Display* d, Window w, const char* type, long first, long third, bool toManager)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = AtomOf(d, type);
    event.xclient.format = 32;
    event.xclient.data.l[0] = first;
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = third;
    if (toManager)
        XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    else
        XSendEvent(d, w, False, NoEventMask, &event);
}

void RequestActivation(Display* d, Window w)
{
    const auto active = GetLongs(d, DefaultRootWindow(d), AtomOf(d, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
    // Source 2, asked for by a pager: not refused as focus stealing.
    SendClientMessage(d, w, "_NET_ACTIVE_WINDOW", 2, active.empty() ? 0 : long(active[0]), true);
}

} // namespace

namespace MirelX {

bool HasXTest(Display* d)
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor);
}

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
        WaitUnlessAborted(timeoutMs / 2, [&] { return IsMappedViewable(d, w) && FocusWithin(d, w); });
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
        WaitUnlessAborted(timeoutMs / 2, [&] { return IsMappedViewable(d, w); });
    }
    if (!FocusWithin(d, w) && IsMappedViewable(d, w)) {
        XSetInputFocus(d, w, RevertToParent, CurrentTime);
        XSync(d, False);
    }
    WaitUnlessAborted(timeoutMs / 2, [&] { return IsMappedViewable(d, w) && FocusWithin(d, w); });
}

bool WindowRect(Display* d, Window w, CXRect& rect)
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

void MovePointer(Display* d, int x, int y)
{
    XTestFakeMotionEvent(d, DefaultScreen(d), x, y, CurrentTime);
    XSync(d, False);
}

bool PointerPosition(Display* d, int& x, int& y)
{
    Window rootReturn = 0;
    Window child = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    return XQueryPointer(d, DefaultRootWindow(d), &rootReturn, &child, &x, &y, &windowX, &windowY, &mask);
}

bool PointerInside(Display* d, const CXRect& rect)
{
    int x = 0;
    int y = 0;
    if (!PointerPosition(d, x, y))
        return false;
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

// A grab of our own is refused while another client holds one; ours, when it
// succeeds, is given back at once. A window manager grabs for a moment while
// it handles a click; a locker holds its grab. A few short tries tell the two apart.
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

void FocusIfFree(Display* d, Window w)
{
    if (IsMappedViewable(d, w) && !KeyboardGrabbedElsewhere(d))
        XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);
}

void AskToClose(Display* d, Window w)
{
    SendClientMessage(d, w, "WM_PROTOCOLS", long(AtomOf(d, "WM_DELETE_WINDOW")), 0, false);
    XSync(d, False);
}

} // namespace MirelX
