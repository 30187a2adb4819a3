#include "greet/ImClient.h"

#include "platform/AbortScope.h"
#include "platform/ClipboardOwner.h"
#include "platform/ClipboardReader.h"
#include "platform/Clock.h"
#include "platform/Launcher.h"
#include "platform/Log.h"
#include "platform/XInput.h"
#include "platform/XWindows.h"

#include <cstring>
#include <mutex>

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

bool IsUnfinishedChat(_XDisplay* d, unsigned long chat)
{
    return !GetLongs(d, chat, AtomOf(d, kUnsentMark), AtomOf(d, "CARDINAL")).empty();
}

void MarkUnfinishedChat(_XDisplay* d, unsigned long chat)
{
    SetCardinal(d, chat, AtomOf(d, kUnsentMark), 1);
}

GreetingSender g_sender;
CImClientTiming g_timing;

// The owner's clipboard is read before the greeting takes it; an owner this slow is not waited for.
constexpr int kClipboardReadMs = 2000;
// After Ctrl+V the chat asks for the text; until it has, the owner's clipboard is not given back.
constexpr int kPasteServedMs = 3000;

// A pause of the send; false when the greeting thread was asked to stop meanwhile.
bool Pause(int ms)
{
    if (AbortRequested())
        return false;
    SleepMs(ms);
    return !AbortRequested();
}

bool ClipboardStillOurs(_XDisplay* d)
{
    const unsigned long ours = CClipboardOwner::Instance().OwnerWindow();
    return ours != 0 && SelectionOwner(d, "CLIPBOARD") == ours;
}

// Checked right before every click and key of a send, so input never lands
// anywhere but the chat: another client's grab or a focus that moved gives
// its reason, a pointer outside the chat or a clipboard that changed hands
// gives Failed; None when the input may go on.
EGreetReason GuardInput(_XDisplay* d, unsigned long chat, const CXRect& rect, bool paste)
{
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
int FailedAfterClick(_XDisplay* d, unsigned long chat, EGreetReason reason, const char* step)
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

} // namespace

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

int SendGreetingThroughClient(const QString& account, const QString& visitor, const QString& text)
{
    InstallXErrorHandler();
    CXDisplay display;
    _XDisplay* d = display.get();
    if (!d)
        return Failed(EGreetReason::Failed, "no X display");
    if (!HasXTest(d))
        return Failed(EGreetReason::Failed, "the X server has no XTest");
    const CImClientTiming timing = ImClientTiming();

    // The chat is the window this link opens or raises, not another chat that happens to match.
    const CTopWindowSnapshot before = SnapshotTopWindows(d);
    if (!OpenWithDesktop(ChatLink(account, visitor), true, timing.launchWaitMs, [] { return AbortRequested(); }))
        return Failed(EGreetReason::Failed, "the link opener did not start");

    unsigned long chat = 0;
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
    CXRect rect;
    if (!WindowRect(d, chat, rect))
        return Failed(EGreetReason::NoWindow, "the chat window went away");
    FocusIfFree(d, chat);
    if (!Pause(timing.focusPauseMs))
        return Failed(EGreetReason::Failed, "stopped");

    // The pointer goes back where the owner left it, however the send ends.
    int savedX = 0;
    int savedY = 0;
    const bool pointerKnown = PointerPosition(d, savedX, savedY);
    struct CPointerBack
    {
        _XDisplay* d;
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
    const bool pasted = Pause(timing.pastePauseMs) && WaitUnlessAborted(kPasteServedMs, [&] {
                            return CClipboardOwner::Instance().ServedRequests() > served;
                        });
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
