// tracking-load: the parts of scripts/tracking-bench that wrk cannot do, against a
// rivuzovara on loopback, over non-blocking sockets and epoll in one thread.
//   tracking-load paced PORT RATE SECONDS CONNECTIONS WEBID...
//       shop.asp views at a fixed rate over keep-alive connections; each view's latency runs
//       from the moment it was due (a late send counts against the server, as wrk2 does)
//   tracking-load waiters PORT COUNT WEBID SERVER_PID
//       COUNT WaitInfo requests held at once, the server's memory then, one view, and how long
//       until every waiter had its answer
// Bounded: every run ends by itself (a stalled server fails it). Prints "name: value" lines.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Connect(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

// One HTTP/1.1 response read from a stream of bytes: headers, then Content-Length bytes.
struct SResponse
{
    std::string buffer;
    int status = 0;
    std::string body;

    // True when a whole response is in; it is taken off the buffer.
    bool Take()
    {
        const size_t end = buffer.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        const std::string head = buffer.substr(0, end);
        size_t length = 0;
        for (size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
            if (strncasecmp(head.c_str() + at + 2, "content-length:", 15) == 0)
                length = size_t(std::atoll(head.c_str() + at + 17));
        }
        if (buffer.size() < end + 4 + length)
            return false;
        status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
        body = buffer.substr(end + 4, length);
        buffer.erase(0, end + 4 + length);
        return true;
    }
};

std::string Get(const std::string& target, const std::string& referer = {})
{
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!referer.empty())
        request += "Referer: " + referer + "\r\n";
    return request + "\r\n";
}

bool SendAll(int fd, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            usleep(100);
        } else {
            return false;
        }
    }
    return true;
}

// Reads what is there; false when the peer closed or failed.
bool ReadSome(int fd, std::string& into)
{
    char chunk[16384];
    for (;;) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            into.append(chunk, size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        return false;
    }
}

long long RssKiB(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atoll(line.c_str() + 6);
    }
    return -1;
}

struct SPacedConnection
{
    int fd = -1;
    bool busy = false;
    Clock::time_point due;
    SResponse response;
};

int Paced(int port, double rate, double seconds, int connections, const std::vector<std::string>& webIds)
{
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    std::vector<SPacedConnection> pool(static_cast<size_t>(connections));
    for (size_t i = 0; i < pool.size(); ++i) {
        pool[i].fd = Connect(port);
        if (pool[i].fd < 0) {
            std::perror("connect");
            return 1;
        }
        epoll_event event{EPOLLIN, {}};
        event.data.u64 = i;
        epoll_ctl(epoll, EPOLL_CTL_ADD, pool[i].fd, &event);
    }
    usleep(200000);
    const long long total = (long long)(rate * seconds);
    std::vector<double> latencies;
    latencies.reserve(size_t(total));
    std::deque<Clock::time_point> backlog; // views due while every connection was busy
    long long scheduled = 0, answered = 0, failed = 0;
    const Clock::time_point start = Clock::now();
    const auto dueAt = [&](long long k) {
        return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(k / rate));
    };
    size_t next = 0;
    const auto sendOn = [&](SPacedConnection& c, Clock::time_point due) {
        const std::string& id = webIds[size_t(scheduled % (long long)webIds.size())];
        c.busy = true;
        c.due = due;
        if (!SendAll(c.fd,
                     Get("/rivuzovara/shop.asp?id=" + id, "http://shop.example.com/item/" + std::to_string(scheduled))))
            ++failed;
    };
    // The run ends when every view is answered, or 10 s after the last one was due.
    const Clock::time_point giveUp = dueAt(total) + std::chrono::seconds(10);
    while (answered + failed < total && Clock::now() < giveUp) {
        while (scheduled < total && dueAt(scheduled) <= Clock::now()) {
            backlog.push_back(dueAt(scheduled));
            ++scheduled;
        }
        for (size_t tries = 0; !backlog.empty() && tries < pool.size(); ++tries) {
            SPacedConnection& c = pool[next];
            next = (next + 1) % pool.size();
            if (!c.busy) {
                sendOn(c, backlog.front());
                backlog.pop_front();
            }
        }
        // Sleeps until the next view is due (no busy loop: the server needs the cores).
        timespec wait{0, 0};
        if (backlog.empty() && scheduled < total) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(dueAt(scheduled) - Clock::now());
            wait.tv_nsec = std::max<long long>(0, std::min<long long>(ns.count(), 999999999));
        } else if (!backlog.empty()) {
            wait.tv_nsec = 200000;
        } else {
            wait.tv_nsec = 10000000;
        }
        epoll_event events[256];
        const int n = epoll_pwait2(epoll, events, 256, &wait, nullptr);
        for (int e = 0; e < n; ++e) {
            SPacedConnection& c = pool[events[e].data.u64];
            const bool open = ReadSome(c.fd, c.response.buffer);
            while (c.response.Take()) {
                if (c.response.status == 200 && c.response.body.size() == 43 && c.response.body.rfind("GIF", 0) == 0) {
                    ++answered;
                    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - c.due).count());
                } else {
                    ++failed;
                }
                c.busy = false;
            }
            if (!open) {
                ++failed;
                epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
                close(c.fd);
                c.fd = Connect(port);
                c.busy = false;
                epoll_event event{EPOLLIN, {}};
                event.data.u64 = events[e].data.u64;
                epoll_ctl(epoll, EPOLL_CTL_ADD, c.fd, &event);
            }
        }
    }
    const double elapsed = SecondsSince(start);
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies.empty() ? -1.0 : latencies[std::min(latencies.size() - 1, size_t(q * latencies.size()))];
    };
    std::printf("views due: %lld\nviews answered (GIF): %lld\nfailed or unanswered: %lld\n", total, answered,
                total - answered);
    std::printf("rate asked: %.0f/s\nrate answered: %.0f/s\n", rate, answered / elapsed);
    std::printf("latency ms p50: %.2f\nlatency ms p90: %.2f\nlatency ms p99: %.2f\nlatency ms p99.9: %.2f\n"
                "latency ms max: %.2f\n",
                at(0.50), at(0.90), at(0.99), at(0.999), latencies.empty() ? -1.0 : latencies.back());
    for (SPacedConnection& c : pool)
        close(c.fd);
    close(epoll);
    return answered == total ? 0 : 1;
}

// "+OK <m>" at the start of a reply; -1 otherwise.
long long OkNumber(const std::string& body)
{
    return body.rfind("+OK ", 0) == 0 ? std::atoll(body.c_str() + 4) : -1;
}

int Waiters(int port, int count, const std::string& webId, int serverPid)
{
    // Where the web ID stands, so that every waiter waits for the next view.
    const int probe = Connect(port);
    usleep(50000);
    fcntl(probe, F_SETFL, 0);
    SResponse first;
    SendAll(probe, Get("/rivuzovara/WaitInfo.asp?userID=" + webId + "&after="));
    char chunk[4096];
    for (ssize_t n; !first.Take() && (n = recv(probe, chunk, sizeof chunk, 0)) > 0;)
        first.buffer.append(chunk, size_t(n));
    const long long latest = OkNumber(first.body);
    if (latest < 0) {
        std::fprintf(stderr, "tracking-load: WaitInfo with an empty after= answered %d \"%s\"\n", first.status,
                     first.body.c_str());
        return 1;
    }
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    std::vector<int> fds;
    std::vector<SResponse> replies(static_cast<size_t>(count));
    const std::string wait = Get("/rivuzovara/WaitInfo.asp?userID=" + webId + "&after=" + std::to_string(latest));
    for (int i = 0; i < count; ++i) {
        const int fd = Connect(port);
        if (fd < 0) {
            std::perror("connect");
            return 1;
        }
        epoll_event event{EPOLLIN | EPOLLOUT, {}};
        event.data.u64 = uint64_t(i);
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
        fds.push_back(fd);
    }
    // Each request goes once its connection is made.
    std::vector<bool> sent(static_cast<size_t>(count), false);
    int sentCount = 0, answered = 0, early = 0, wrong = 0, closed = 0;
    const Clock::time_point connectStart = Clock::now();
    while (sentCount < count && SecondsSince(connectStart) < 20) {
        epoll_event events[512];
        const int n = epoll_wait(epoll, events, 512, 100);
        for (int e = 0; e < n; ++e) {
            const size_t i = events[e].data.u64;
            if ((events[e].events & EPOLLOUT) && !sent[i]) {
                sent[i] = SendAll(fds[i], wait);
                sentCount += sent[i] ? 1 : 0;
                epoll_event event{EPOLLIN, {}};
                event.data.u64 = i;
                epoll_ctl(epoll, EPOLL_CTL_MOD, fds[i], &event);
            }
            if (events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                if (!ReadSome(fds[i], replies[i].buffer))
                    ++closed;
                if (replies[i].Take())
                    ++early;
            }
        }
    }
    // The server reads them all before the view comes.
    usleep(1500000);
    const long long rss = serverPid > 0 ? RssKiB(serverPid) : -1;
    std::printf("waiters sent: %d of %d\nanswered before the view: %d\nclosed before the view: %d\n", sentCount, count,
                early, closed);
    std::printf("server RSS with the waiters held: %.1f MiB\n", rss / 1024.0);
    const Clock::time_point view = Clock::now();
    const int shop = Connect(port);
    usleep(20000);
    SendAll(shop, Get("/rivuzovara/shop.asp?id=" + webId, "http://shop.example.com/item/waiters"));
    double last = 0;
    while (answered + wrong + early + closed < count && SecondsSince(view) < 30) {
        epoll_event events[512];
        const int n = epoll_wait(epoll, events, 512, 100);
        for (int e = 0; e < n; ++e) {
            const size_t i = events[e].data.u64;
            const bool open = ReadSome(fds[i], replies[i].buffer);
            if (replies[i].Take()) {
                if (replies[i].status == 200 && OkNumber(replies[i].body) == latest + 1)
                    ++answered;
                else
                    ++wrong;
                last = SecondsSince(view);
                epoll_ctl(epoll, EPOLL_CTL_DEL, fds[i], nullptr);
            } else if (!open) {
                ++closed;
                epoll_ctl(epoll, EPOLL_CTL_DEL, fds[i], nullptr);
            }
        }
    }
    std::printf("waiters woken by the view: %d\nwrong answers: %d\nclosed unanswered: %d\n", answered, wrong, closed);
    std::printf("last waiter answered after the view: %.3f s\n", last);
    for (int fd : fds)
        close(fd);
    close(shop);
    close(probe);
    close(epoll);
    return answered == count ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "paced" && argc >= 7) {
        return Paced(std::atoi(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atoi(argv[5]),
                     std::vector<std::string>(argv + 6, argv + argc));
    }
    if (mode == "waiters" && argc == 6)
        return Waiters(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], std::atoi(argv[5]));
    std::fprintf(stderr, "usage: tracking-load paced PORT RATE SECONDS CONNECTIONS WEBID...\n"
                         "       tracking-load waiters PORT COUNT WEBID SERVER_PID\n");
    return 2;
}
