#pragma once
// Input for another program's window through XTest: keys, the pointer and a
// click, raising and focusing a top-level window, asking it to close. Used by
// the greeting thread on its own display connection (see XWindows.h).
#include <QString>

struct _XDisplay;

// Up to three keys (X keysyms), the list ends at the first 0: all pressed in
// order, then released in reverse order.
void PressKeys(_XDisplay* display, unsigned long key1, unsigned long key2 = 0, unsigned long key3 = 0);

namespace MirelX {

struct CXRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The server offers XTest, without which no key or click can be sent.
bool HasXTest(_XDisplay* d);
// Brings w to the front with the keyboard focus, restoring it when minimised;
// waits at most timeoutMs (less when the calling thread is stopped).
void Activate(_XDisplay* d, unsigned long w, int timeoutMs);
// The window's outer rectangle on the screen, its frame included.
bool WindowRect(_XDisplay* d, unsigned long w, CXRect& rect);
// A left click where the pointer is.
void Click(_XDisplay* d);
void MovePointer(_XDisplay* d, int x, int y);
// Where the pointer is on the screen; false when it is on another screen.
bool PointerPosition(_XDisplay* d, int& x, int& y);
bool PointerInside(_XDisplay* d, const CXRect& rect);
// Another client holds a keyboard grab (a screen locker, a menu).
bool KeyboardGrabbedElsewhere(_XDisplay* d);
// Gives the input focus to w when it is shown and nobody holds a keyboard grab.
void FocusIfFree(_XDisplay* d, unsigned long w);
// WM_DELETE_WINDOW, as the close box sends it.
void AskToClose(_XDisplay* d, unsigned long w);

} // namespace MirelX
