#pragma once
// What the road tests need around the program: a tray host on the test's
// display, input through XTest (as a person's mouse and keyboard), the
// program's tray icon window when it runs as a process of its own, and a
// read-only look into an Info.mdb. Test's main thread only. Include it after
// every Qt header: it brings in Xlib.
#include "support/XvfbSession.h"

#include <QList>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <functional>

namespace road {

// Someone owns the notification area selection of screen 0.
inline bool TrayHostRuns()
{
    CXConnection x;
    return x && XGetSelectionOwner(x.get(), XInternAtom(x.get(), "_NET_SYSTEM_TRAY_S0", False)) != None;
}

// trayer, the notification area the program's icon goes into.
class CTrayHost
{
public:
    ~CTrayHost() { Stop(); }
    bool Start()
    {
        // A tray host that just ended may still own the selection for a moment;
        // a new one started meanwhile would give up.
        if (!WaitUntil([] { return !TrayHostRuns(); }, 5000))
            return false;
        m_process.setProgram(QStringLiteral("trayer"));
        m_process.setArguments({QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                                QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--SetDockType"),
                                QStringLiteral("true"), QStringLiteral("--transparent"), QStringLiteral("false")});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        return m_process.waitForStarted(5000) && WaitUntil([] { return TrayHostRuns(); }, 10000) &&
               m_process.state() == QProcess::Running;
    }
    // Ends it and waits until the notification area is free again.
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        WaitUntil([] { return !TrayHostRuns(); }, 5000);
    }

private:
    QProcess m_process;
};

// A press and release of a mouse button at a point of the screen.
inline void FakeClick(const QPoint& where, unsigned button)
{
    CXConnection x;
    if (!x)
        return;
    XTestFakeMotionEvent(x.get(), DefaultScreen(x.get()), where.x(), where.y(), CurrentTime);
    XSync(x.get(), False);
    XTestFakeButtonEvent(x.get(), button, True, CurrentTime);
    XSync(x.get(), False);
    XTestFakeButtonEvent(x.get(), button, False, CurrentTime);
    XSync(x.get(), False);
}

// A press and release of one key, by its keysym name ("Up", "Return").
inline void FakeKey(const char* keysymName)
{
    CXConnection x;
    if (!x)
        return;
    const KeyCode code = XKeysymToKeycode(x.get(), XStringToKeysym(keysymName));
    XTestFakeKeyEvent(x.get(), code, True, CurrentTime);
    XTestFakeKeyEvent(x.get(), code, False, CurrentTime);
    XSync(x.get(), False);
}

struct CXWindowInfo
{
    unsigned long id = 0;
    QRect rect;   // on the screen
    QString type; // the _NET_WM_WINDOW_TYPE atoms' names, separated by blanks
};

// Every viewable window that carries the process's _NET_WM_PID.
inline QList<CXWindowInfo> WindowsOfProcess(qint64 pid)
{
    QList<CXWindowInfo> windows;
    CXConnection x;
    if (!x)
        return windows;
    Display* d = x.get();
    const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    const Atom typeAtom = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
    auto cardinal = [d](Window window, Atom property, Atom type, long& value) {
        Atom actual = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        const bool ok = XGetWindowProperty(d, window, property, 0, 1, False, type, &actual, &format, &items, &after,
                                           &data) == Success &&
                        data && items == 1 && format == 32;
        if (ok)
            value = *reinterpret_cast<long*>(data);
        if (data)
            XFree(data);
        return ok;
    };
    std::function<void(Window)> search = [&](Window window) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, window, &root, &parent, &children, &count))
            return;
        for (unsigned int i = 0; i < count; ++i) {
            long owner = 0;
            XWindowAttributes attributes;
            if (cardinal(children[i], pidAtom, XA_CARDINAL, owner) && owner == pid &&
                XGetWindowAttributes(d, children[i], &attributes) && attributes.map_state == IsViewable) {
                int left = 0;
                int top = 0;
                Window child = 0;
                XTranslateCoordinates(d, children[i], DefaultRootWindow(d), 0, 0, &left, &top, &child);
                const QRect rect(left, top, attributes.width, attributes.height);
                QStringList types;
                Atom actual = None;
                int format = 0;
                unsigned long items = 0;
                unsigned long after = 0;
                unsigned char* data = nullptr;
                if (XGetWindowProperty(d, children[i], typeAtom, 0, 16, False, XA_ATOM, &actual, &format, &items,
                                       &after, &data) == Success &&
                    data && format == 32) {
                    for (unsigned long k = 0; k < items; ++k) {
                        char* name = XGetAtomName(d, reinterpret_cast<Atom*>(data)[k]);
                        types.append(QString::fromLatin1(name));
                        XFree(name);
                    }
                }
                if (data)
                    XFree(data);
                windows.append({children[i], rect, types.join(u' ')});
            }
            search(children[i]);
        }
        if (children)
            XFree(children);
    };
    search(DefaultRootWindow(d));
    return windows;
}

// Rows of a query on a database file, read over a read-only connection of
// our own (the program may still have the file open). Empty when it fails.
inline QList<QStringList> QueryFile(const QString& path, const QString& sql)
{
    QList<QStringList> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i)
                row.append(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, i))));
            rows.append(row);
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// What SQLite's own check says of the file: "ok" when intact.
inline QString IntegrityCheck(const QString& path)
{
    const QList<QStringList> rows = QueryFile(path, QStringLiteral("pragma integrity_check"));
    QStringList lines;
    for (const QStringList& row : rows)
        lines.append(row.join(u' '));
    return rows.isEmpty() ? QStringLiteral("<not readable>") : lines.join(u'\n');
}

} // namespace road

// Xlib names that Qt uses too.
#undef None
#undef Bool
#undef Status
#undef Success
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef Expose
#undef Unsorted
#undef CursorShape
