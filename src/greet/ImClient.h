#pragma once
// Sends one greeting by driving the IM desktop client on the X11 desktop: the
// chat link is handed to the desktop's "lumochat" link handler, the chat window
// (class "BaseGui", title naming the visitor) is looked for among the
// top-level windows, then clicked, pasted into, sent and closed. Used by the
// greeting thread, one greeting at a time; each call opens its own display
// connection. The clipboard is served by CClipboardOwner on a thread of its own;
// the X helpers are platform/XWindows.h and platform/XInput.h.
#include "tables/GreetingLogTable.h"

#include <QString>

#include <functional>
#include <vector>

struct _XDisplay;

// The waits of one send; tests shorten them.
struct CImClientTiming
{
    int launchWaitMs = 10000;     // the link opener is ended after this long
    int searchAttempts = 51;      // looks for the chat window
    int searchIntervalMs = 500;   // pause after each look
    int focusPauseMs = 200;       // after focusing, before the click
    int pastePauseMs = 200;       // after Ctrl+V
    int sentPauseMs = 1000;       // after the send keys, before closing
    int activateTimeoutMs = 3000; // bounded wait until the window shows and has the focus
};

// What SendGreeting gives back.
constexpr int kGreetingSent = 1;
constexpr int kGreetingFailed = 0;
// Not one key reached the chat because another client held a keyboard grab
// or the chat window lost the focus before the click: worth trying again on
// a later pass. Once the click is done a greeting is sent or failed, never held.
constexpr int kGreetingHeld = -1;

// Why the calling thread's last SendGreeting was held or failed; Sent after a send.
EGreetReason LastGreetReason();
// Set by a sender (the IM client, or a test's stand-in) before it returns.
void SetLastGreetReason(EGreetReason reason);

// kGreetingSent when the greeting went out into the chat window found for the
// link (also when the guard failed after Ctrl+Enter: that key sends); kGreetingHeld
// as above; kGreetingFailed otherwise (no display, link opener not started, no
// or several chat windows, clipboard not taken or lost, a guard failing after
// the click, stop), the chat then left open with what was typed.
// Every wait looks at the calling thread's stop flag (CAbortScope) at least
// once a second. text is sent as it is; the caller expands the template first.
int SendGreeting(const QString& account, const QString& visitor, const QString& text);

using GreetingSender = std::function<int(const QString& account, const QString& visitor, const QString& text)>;
// Replaces what SendGreeting does (tests record instead of typing); an empty
// function restores the IM client. Returns the previous one.
GreetingSender SetGreetingSender(GreetingSender sender);
// What SendGreeting does without a replacement.
int SendGreetingThroughClient(const QString& account, const QString& visitor, const QString& text);

// The moments of a send after a key went out; a test's hook starts a grab there.
enum class EGreetStep
{
    Pasted,
    CtrlEnterPressed,
};
using GreetingStepHook = std::function<void(EGreetStep step)>;
// Called on the greeting thread right after each of those keys; returns the previous hook.
GreetingStepHook SetGreetingStepHook(GreetingStepHook hook);

CImClientTiming ImClientTiming();
CImClientTiming SetImClientTiming(const CImClientTiming& timing);

// "lumochat://message/?sid=<account>&id=<visitor>&clk=icon&src=space&browser=IE"; in the values
// % & # + = and blanks are percent-encoded, nothing else.
QString ChatLink(const QString& account, const QString& visitor);

// Takes the CLIPBOARD selection and serves text from it. True on success and
// for an empty text (the clipboard is then left alone); false without a
// display or when the selection could not be taken.
bool SetClipboardText(const QString& text);

// The visitor's name in a title as a whole word (not inside a longer word).
bool TitleNamesVisitor(const QString& title, const QString& visitor);
// The one window of class exactly "BaseGui" whose title names the visitor; 0
// when none or several (*candidates tells how many).
unsigned long FindChatWindow(_XDisplay* display, const QString& visitor, int* candidates = nullptr);

// The top-level windows before a link goes out, to tell which window it opened or raised.
struct CTopWindowSnapshot
{
    std::vector<unsigned long> order; // top of the stack first
    std::vector<unsigned long> viewable;
    unsigned long focused = 0;
};
CTopWindowSnapshot SnapshotTopWindows(_XDisplay* display);
// As FindChatWindow, among the windows that appeared, were shown or raised
// since the snapshot, or are on top or hold the focus now; 0 when none or several.
unsigned long FindChatWindowForLink(_XDisplay* display, const QString& visitor, const CTopWindowSnapshot& before,
                                    int* candidates = nullptr);
