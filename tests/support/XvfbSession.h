#pragma once
// Helpers for end-to-end tests on the X display they run under (ctest wraps
// them in xvfb-run): a small window manager that can come and go, the
// pointer, window states, and bare X windows made to measure. Used from the
// test's main thread; each helper opens its own display connection.
#include "support/WaitUntil.h"

#include <QPoint>
#include <QProcess>
#include <QString>

#include <functional>

struct _XDisplay;

// An Xlib connection to $DISPLAY for the lifetime of the object.
class CXConnection
{
public:
    CXConnection();
    ~CXConnection();
    CXConnection(const CXConnection&) = delete;
    CXConnection& operator=(const CXConnection&) = delete;
    _XDisplay* get() const { return m_display; }
    explicit operator bool() const { return m_display != nullptr; }

private:
    _XDisplay* m_display = nullptr;
};

// matchbox-window-manager on the test's display.
class CWindowManager
{
public:
    CWindowManager() = default;
    ~CWindowManager();
    CWindowManager(const CWindowManager&) = delete;
    CWindowManager& operator=(const CWindowManager&) = delete;

    // Starts it and waits (bounded) until it manages the display.
    bool Start();
    // Ends it and waits until the display is unmanaged again.
    bool Stop();
    // Whether any window manager manages the display now.
    static bool Managed();

private:
    QProcess m_process;
};

QPoint PointerPosition();
void WarpPointer(const QPoint& where);

bool IsWindowViewable(unsigned long window);
// Iconic by WM_STATE or hidden by _NET_WM_STATE.
bool IsWindowMinimised(unsigned long window);
// What a client asks for (WM_CHANGE_STATE to the root). Without a window
// manager nobody would answer, so this does what one would: unmap the window
// and mark it iconic.
void MinimiseWindow(unsigned long window);
// Raises the window and gives it the keyboard focus (for a display without a window manager).
void FocusWindow(unsigned long window);
// A left click at a point of the screen through XTest.
void ClickAt(const QPoint& where);
// Sends WM_DELETE_WINDOW, as a window manager's close button does.
void RequestClose(unsigned long window);
// The window's frame rectangle on the screen (its own without a frame).
bool WindowFrame(unsigned long window, int& left, int& top, int& right, int& bottom);

// Asks the CLIPBOARD owner for a target, as a pasting program does, and
// waits (bounded) for the answer. False when refused or unanswered. For
// TARGETS the atoms come back as their names, one per line.
bool ConvertClipboard(const QString& target, QByteArray& data, QString& type, int timeoutMs = 5000);

// A bare top-level window with the title and class given, for the window
// search's filters. Destroyed with the object.
class CTestWindow
{
public:
    struct COptions
    {
        bool map = true;
        bool toolWindow = false;        // _NET_WM_WINDOW_TYPE_UTILITY
        unsigned long transientFor = 0; // WM_TRANSIENT_FOR
        bool overrideRedirect = false;
    };
    CTestWindow(const QString& title, const QString& className, const COptions& options);
    CTestWindow(const QString& title, const QString& className) : CTestWindow(title, className, COptions()) {}
    ~CTestWindow();
    CTestWindow(const CTestWindow&) = delete;
    CTestWindow& operator=(const CTestWindow&) = delete;
    unsigned long id() const { return m_window; }
    void Raise();

private:
    CXConnection m_connection;
    unsigned long m_window = 0;
};
