#include "net/ViewWaiter.h"

#include "net/HttpText.h"
#include "net/WinHttpEx.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <curl/curl.h>

#include <algorithm>

namespace {

constexpr int kProbeRequestMs = 30 * 1000;
// The longest the thread sleeps without looking at the clock: a retry falls due on time
// even when the clock was moved ahead meanwhile.
constexpr int kLongestPollMs = 1000;

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* body = static_cast<QByteArray*>(user);
    const size_t length = size * count;
    if (body->size() + static_cast<qint64>(length) > kMaxBodyBytes)
        return 0;
    body->append(data, static_cast<qsizetype>(length));
    return length;
}

} // namespace

struct CViewWaiter::CState
{
    void* easy = nullptr; // CURL* of the request under way
    QByteArray body;
    bool probed = false; // the start number is known: waiting requests follow
    bool held = false;   // views delivered, not yet kept
    bool failing = false;
    bool absent = false; // the service offers no wake-up for this account
    int backoffSeconds = 0;
    qint64 after = 0;
    qint64 asked = -1; // what the request under way asked after; -1 for the start number
    qint64 dueMs = 0;
};

CViewWaiter::CViewWaiter(const QString& trackingBase, std::vector<CAccount> accounts, Deliver deliver, QObject* parent)
    : QThread(parent), m_base(trackingBase), m_accounts(std::move(accounts)), m_deliver(std::move(deliver))
{
    InitHttpOnce();
    // Made here, so a Stop that comes before run() can already wake it.
    m_multi = curl_multi_init();
}

CViewWaiter::~CViewWaiter()
{
    Stop();
    (void)m_ended.load(std::memory_order_acquire);
    if (m_multi)
        curl_multi_cleanup(static_cast<CURLM*>(m_multi));
}

void CViewWaiter::Stop()
{
    m_stop = 1;
    if (m_multi)
        curl_multi_wakeup(static_cast<CURLM*>(m_multi));
    wait();
}

void CViewWaiter::Continue(int account, qint64 after, int delayMs)
{
    {
        std::lock_guard lock(m_mutex);
        m_continues.push_back({account, after, delayMs});
    }
    if (m_multi)
        curl_multi_wakeup(static_cast<CURLM*>(m_multi));
}

void CViewWaiter::TakeContinues(std::vector<CState>& states)
{
    std::vector<CContinue> continues;
    {
        std::lock_guard lock(m_mutex);
        continues.swap(m_continues);
    }
    const qint64 now = Clock().NowMs();
    for (const CContinue& next : continues) {
        if (next.account < 0 || next.account >= static_cast<int>(states.size()))
            continue;
        CState& state = states[static_cast<size_t>(next.account)];
        state.held = false;
        state.after = next.after;
        state.dueMs = now + std::max(0, next.delayMs);
    }
}

void CViewWaiter::StartDue(std::vector<CState>& states, qint64 nowMs)
{
    auto* multi = static_cast<CURLM*>(m_multi);
    for (size_t i = 0; i < states.size(); ++i) {
        CState& state = states[i];
        if (state.easy || state.held || state.dueMs > nowMs)
            continue;
        CURL* easy = curl_easy_init();
        if (!easy) {
            Fail(state, QStringLiteral("no request could be made"), nowMs);
            continue;
        }
        state.asked = state.probed ? state.after : -1;
        const QString url = m_base + QStringLiteral("/rivuzovara/WaitInfo.asp?userID=%1&after=%2")
                                         .arg(ToPlainQueryValue(m_accounts[i].webId),
                                              state.probed ? QString::number(state.after) : QString());
        const QByteArray target = url.toUtf8();
        state.body.clear();
        curl_easy_setopt(easy, CURLOPT_URL, target.constData());
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, CWinHttpEx::UserAgent());
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTimeoutMs));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(state.probed ? kWaitRequestMs : kProbeRequestMs));
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state.body);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<void*>(static_cast<quintptr>(i)));
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            curl_easy_cleanup(easy);
            Fail(state, QStringLiteral("the request could not be started"), nowMs);
            continue;
        }
        state.easy = easy;
        m_requests.fetch_add(1);
    }
}

void CViewWaiter::Fail(CState& state, const QString& reason, qint64 nowMs)
{
    state.backoffSeconds = state.backoffSeconds == 0 ? 1 : std::min(2 * state.backoffSeconds, kMaxBackoffSeconds);
    state.dueMs = nowMs + state.backoffSeconds * 1000LL;
    if (state.failing)
        return;
    state.failing = true;
    // One line when the service is lost, not one per account.
    if (m_failing++ == 0)
        qCWarning(LogNet).noquote() << "wake-up: the tracking service failed (" + reason +
                                           "); retried after 1, 2, 4 ... 60 s, views polled meanwhile";
}

void CViewWaiter::Recovered(CState& state)
{
    if (!state.failing)
        return;
    state.failing = false;
    state.backoffSeconds = 0;
    if (--m_failing == 0)
        qCInfo(LogNet) << "wake-up: the tracking service answers again";
}

void CViewWaiter::Finish(CState& state, int index, qint64 nowMs)
{
    const CAccount& account = m_accounts[static_cast<size_t>(index)];
    auto* easy = static_cast<CURL*>(state.easy);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(static_cast<CURLM*>(m_multi), easy);
    curl_easy_cleanup(easy);
    state.easy = nullptr;

    const auto absent = [&](const QString& why, bool wholeService) {
        Recovered(state);
        state.probed = false;
        state.dueMs = nowMs + kFallbackMs;
        const bool first = !state.absent;
        state.absent = true;
        if (!first || (wholeService && m_routeAbsentLogged))
            return;
        m_routeAbsentLogged = m_routeAbsentLogged || wholeService;
        qCInfo(LogNet).noquote() << "wake-up:" << (wholeService ? QStringLiteral("the service") : account.shop)
                                 << "offers none (" + why + "); polled at the interval, asked again in 30 minutes";
    };
    if (status == 404)
        return absent(QStringLiteral("HTTP 404"), true);
    if (status != 200)
        return Fail(state, QStringLiteral("HTTP %1").arg(status), nowMs);

    const CWaitInfoReply reply = ParseWaitInfoReply(AnsiToUnicode(state.body), state.asked);
    state.body.clear();
    if (reply.kind == EWaitReply::Refused)
        return absent(reply.problem, false);
    if (reply.kind == EWaitReply::Malformed) {
        qCWarning(LogNet).noquote() << "wake-up:" << account.shop << "- malformed reply:" << reply.problem;
        return Fail(state, QStringLiteral("malformed reply"), nowMs);
    }
    Recovered(state);
    state.absent = false;
    state.dueMs = nowMs;
    if (!state.probed) {
        state.probed = true;
        const qint64 latest = reply.next;
        if (account.lastSeq > 0 && latest >= account.lastSeq) {
            // Views since the last one kept come with the first waiting request.
            state.after = account.lastSeq;
            return;
        }
        if (account.lastSeq > latest)
            qCInfo(LogNet).noquote() << "wake-up:" << account.shop << "- the service counts from" << latest
                                     << "again; going on from there";
        state.after = latest;
        if (latest == account.lastSeq)
            return;
        // The start number is kept like a view, so a restart asks after it.
        state.held = true;
        m_deliver(CWakeup{index, account.lastSeq, latest, {}});
        return;
    }
    if (reply.records.empty()) {
        state.after = reply.next;
        return;
    }
    state.held = true;
    m_deliver(CWakeup{index, state.asked, reply.next, reply.records});
}

int CViewWaiter::NextTimeoutMs(const std::vector<CState>& states, qint64 nowMs) const
{
    qint64 timeout = kLongestPollMs;
    for (const CState& state : states) {
        if (!state.easy && !state.held)
            timeout = std::min(timeout, std::max<qint64>(0, state.dueMs - nowMs));
    }
    return static_cast<int>(timeout);
}

void CViewWaiter::run()
{
    struct CEnded
    {
        std::atomic<bool>& ended;
        ~CEnded() { ended.store(true, std::memory_order_release); }
    } ended{m_ended};
    auto* multi = static_cast<CURLM*>(m_multi);
    if (!multi) {
        qCWarning(LogNet) << "wake-up: no request session; views are polled at the interval";
        return;
    }
    std::vector<CState> states(m_accounts.size());
    while (m_stop.load() == 0) {
        TakeContinues(states);
        StartDue(states, Clock().NowMs());
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            void* privateData = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &privateData);
            const int index = static_cast<int>(reinterpret_cast<quintptr>(privateData));
            CState& state = states[static_cast<size_t>(index)];
            const CURLcode result = message->data.result;
            if (result != CURLE_OK) {
                curl_multi_remove_handle(multi, message->easy_handle);
                curl_easy_cleanup(message->easy_handle);
                state.easy = nullptr;
                Fail(state, QString::fromUtf8(curl_easy_strerror(result)), Clock().NowMs());
                m_answers.fetch_add(1);
                continue;
            }
            Finish(state, index, Clock().NowMs());
            m_answers.fetch_add(1);
        }
        m_realTime = !states.empty() && std::all_of(states.begin(), states.end(),
                                                    [](const CState& state) { return state.probed && !state.failing; });
        m_passes.fetch_add(1);
        if (m_stop.load() != 0)
            break;
        if (curl_multi_poll(multi, nullptr, 0, NextTimeoutMs(states, Clock().NowMs()), nullptr) != CURLM_OK)
            break;
    }
    m_realTime = false;
    for (CState& state : states) {
        if (!state.easy)
            continue;
        curl_multi_remove_handle(multi, static_cast<CURL*>(state.easy));
        curl_easy_cleanup(static_cast<CURL*>(state.easy));
        state.easy = nullptr;
    }
}
