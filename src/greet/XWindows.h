#pragma once
// Small Xlib helpers of the greeting sender: properties, window-manager state,
// titles and classes, the window tree and the focus. Callers own the display
// connection; every helper is safe on a window that vanished meanwhile
// (InstallXErrorHandler).
#include <QByteArray>
#include <QString>

#include <vector>

struct _XDisplay;

// Xlib's Window and Atom are both unsigned long; the header keeps Xlib's macros out of Qt code.
namespace MirelX {

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

} // namespace MirelX
