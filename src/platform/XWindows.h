#pragma once
// Small Xlib helpers: properties, window-manager state, titles and classes,
// the window tree, the focus and the top-level windows. Callers own the display
// connection (CXDisplay opens one per call of a sender); every helper is safe
// on a window that vanished meanwhile (InstallXErrorHandler). Any thread.
#include <QByteArray>
#include <QString>

#include <vector>

struct _XDisplay;

// Ignores X protocol errors of our own connections (a window may vanish at
// any moment) instead of ending the process, and makes Xlib thread-safe.
// Called by every entry point that opens a display.
void InstallXErrorHandler();

// One top-level window, as the enumeration lists it.
struct CTaskManage
{
    QString m_title;     // at most 254 characters
    QString m_className; // at most 254 characters
    unsigned long m_window = 0;
};

// The top-level windows, top of the stack first: the window manager's client
// list when one runs, else the root's children. Keeps viewable or minimised
// windows that are not tool windows, have no owner and have a title and a class.
bool EnumTopWindows(_XDisplay* display, std::vector<CTaskManage>& list);
// Applies the filters to one window; appends it when it passes. False ends the enumeration.
bool EnumTopWindowsProc(_XDisplay* display, unsigned long window, std::vector<CTaskManage>* list);

// Xlib's Window and Atom are both unsigned long; the header keeps Xlib's macros out of Qt code.
namespace MirelX {

// The display named by DISPLAY, open for the object's lifetime; get() is null without one.
class CXDisplay
{
public:
    CXDisplay();
    explicit CXDisplay(const char* name);
    ~CXDisplay();
    CXDisplay(const CXDisplay&) = delete;
    CXDisplay& operator=(const CXDisplay&) = delete;
    _XDisplay* get() const { return m_d; }

private:
    _XDisplay* m_d;
};

unsigned long AtomOf(_XDisplay* d, const char* name);
std::vector<unsigned long> GetLongs(_XDisplay* d, unsigned long w, unsigned long property, unsigned long type);
QByteArray GetBytes(_XDisplay* d, unsigned long w, unsigned long property, unsigned long type);
bool Contains(const std::vector<unsigned long>& items, unsigned long value);
unsigned long WindowManager(_XDisplay* d);
bool WmSupports(_XDisplay* d, const char* name);
long WmState(_XDisplay* d, unsigned long w);
void SetWmState(_XDisplay* d, unsigned long w, long state);
bool IsMinimised(_XDisplay* d, unsigned long w);
bool IsMappedViewable(_XDisplay* d, unsigned long w);
bool IsToolWindow(_XDisplay* d, unsigned long w);
QString WindowTitle(_XDisplay* d, unsigned long w);
QString WindowClass(_XDisplay* d, unsigned long w);
std::vector<unsigned long> Children(_XDisplay* d, unsigned long w);
unsigned long ParentOf(_XDisplay* d, unsigned long w);
unsigned long ClientOf(_XDisplay* d, unsigned long w, int depth = 0);
unsigned long TopAncestor(_XDisplay* d, unsigned long w);
bool FocusWithin(_XDisplay* d, unsigned long w);
// Sets a 32-bit CARDINAL property of one item (a mark that goes with the window).
void SetCardinal(_XDisplay* d, unsigned long w, unsigned long property, long value);
// The window owning the named selection, 0 when none.
unsigned long SelectionOwner(_XDisplay* d, const char* selection);

} // namespace MirelX
