#include "RivuzovaraProcess.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string Quoted(const std::string& word)
{
    std::string out = "'";
    for (const char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string JoinQuoted(const std::vector<std::string>& words)
{
    std::string out;
    for (const auto& word : words)
        out += " " + Quoted(word);
    return out;
}

} // namespace

CRivuzovaraProcess::CRivuzovaraProcess(std::string store) : m_store(std::move(store))
{
    char pattern[] = "/tmp/rivuzovara-test-XXXXXX";
    m_dataDir = mkdtemp(pattern);
}

CRivuzovaraProcess::~CRivuzovaraProcess()
{
    Kill(SIGTERM);
    std::error_code ec;
    std::filesystem::remove_all(m_dataDir, ec);
}

std::string CRivuzovaraProcess::ProgramPath()
{
    return MIREL_BINARY_DIR "/server/app/rivuzovara";
}

bool CRivuzovaraProcess::Start(const std::vector<std::string>& options)
{
    Kill(SIGTERM);
    const std::string log = m_dataDir + "/service.log";
    std::vector<std::string> args = {ProgramPath(), "--data", m_dataDir, "--listen", "127.0.0.1:0"};
    if (!m_store.empty())
        args.insert(args.end(), {"--store", m_store});
    args.insert(args.end(), options.begin(), options.end());
    // Everything the child needs is made before fork: it may only exec.
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(fd, 1);
        dup2(fd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fd);
    const std::regex listening("listening on https?://127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 200; ++i) {
        std::smatch match;
        const std::string text = Log();
        if (std::regex_search(text, match, listening)) {
            m_port = std::stoi(match[1]);
            return true;
        }
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void CRivuzovaraProcess::Kill(int signal)
{
    if (m_pid <= 0)
        return;
    kill(m_pid, signal);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string CRivuzovaraProcess::Log() const
{
    std::ifstream in(m_dataDir + "/service.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int CRivuzovaraProcess::Account(const std::vector<std::string>& words, std::string* output,
                                const std::string* input) const
{
    const std::string store = m_store.empty() ? std::string() : " --store " + Quoted(m_store);
    const std::string piped = input ? "printf %s " + Quoted(*input) + " | " : std::string();
    return RunCommand(piped + Quoted(ProgramPath()) + " --data " + Quoted(m_dataDir) + store + " account" +
                          JoinQuoted(words) + " 2>/dev/null",
                      output);
}

int CRivuzovaraProcess::Get(const std::string& pathAndQuery, std::string* body, const httplib::Headers& headers) const
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(10, 0);
    const auto result = client.Get(pathAndQuery.c_str(), headers);
    if (!result)
        return -1;
    if (body)
        *body = result->body;
    return result->status;
}

std::string FromGbk(const std::string& bytes)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    std::string out(bytes.size() * 3 + 4, '\0');
    char* src = const_cast<char*>(bytes.data());
    size_t srcLeft = bytes.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return ok ? out : "(not GBK)";
}

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    const int status = pclose(pipe);
    if (output)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ConnectTo(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    close(fd);
    return -1;
}

std::string ReadFor(int fd, int timeoutMs)
{
    std::string reply;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[4096];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        // A close with the request unread arrives as a reset.
        if (got == 0 || (got < 0 && errno == ECONNRESET))
            reply += "<closed>";
        if (got <= 0)
            break;
        reply.append(buffer, static_cast<size_t>(got));
    }
    return reply;
}

std::string RawExchange(int port, const std::string& bytes, int timeoutMs)
{
    const int fd = ConnectTo(port);
    std::string reply;
    if (fd >= 0 && send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) >= 0)
        reply = ReadFor(fd, timeoutMs);
    if (fd >= 0)
        close(fd);
    return reply;
}
