#pragma once
// The lock of the anonymous-visitor list: an auto-reset event, created set so that the
// first waiter passes. Events of the same name share one state within the process, as
// the named event did; nothing crosses to another running copy of the program.
// Used by the monitoring and session threads; owned by the session manager.
#include <QString>

#include <memory>

constexpr int kEventWaitMs = 10000;

class CEventEx
{
public:
    // "Taven_Single_Event_Session_Korvan".
    CEventEx();
    explicit CEventEx(const QString& argument);
    virtual ~CEventEx();
    CEventEx(const CEventEx&) = delete;
    CEventEx& operator=(const CEventEx&) = delete;

    // True when the event was set (and is now reset again), false when the time ran out.
    bool Wait(int timeoutMs = kEventWaitMs);
    void Set();
    void Reset();
    QString Name() const;

    struct CState;

private:
    QString m_name;
    std::shared_ptr<CState> m_state;
    [[maybe_unused]] int m_reserved = 0; // kept from the Windows event, read by nothing
};

// Holds the event as the list's lock: waits at most the event's time and sets it
// again on every way out. A lock that did not get the event in time releases
// nothing, and its holder leaves the list alone (see Acquired).
class CEventExLock
{
public:
    explicit CEventExLock(CEventEx& event, int timeoutMs = kEventWaitMs);
    ~CEventExLock();
    CEventExLock(const CEventExLock&) = delete;
    CEventExLock& operator=(const CEventExLock&) = delete;
    // Whether the wait ended with the event set rather than with the time-out.
    bool Acquired() const { return m_acquired; }

private:
    CEventEx& m_event;
    bool m_acquired;
};
