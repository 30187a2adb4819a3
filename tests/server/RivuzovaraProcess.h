#pragma once
// Runs the real rivuzovara for a test: a data folder of its own, a free
// loopback port, its log in a file; SIGTERM when destroyed. Also the small
// HTTP and shell helpers the server tests share.
#include <httplib.h>

#include <string>
#include <vector>

class CRivuzovaraProcess
{
public:
    // store: the --store URL, empty for SQLite in the data folder.
    explicit CRivuzovaraProcess(std::string store = {});
    ~CRivuzovaraProcess();
    CRivuzovaraProcess(const CRivuzovaraProcess&) = delete;
    CRivuzovaraProcess& operator=(const CRivuzovaraProcess&) = delete;

    // Starts the service with --listen 127.0.0.1:0 and the extra options and
    // waits (bounded) for its "listening on" line.
    bool Start(const std::vector<std::string>& options = {});
    void Kill(int signal);
    // The log so far.
    std::string Log() const;

    // An account command: its exit status, stdout in output; input, when given, on its stdin.
    int Account(const std::vector<std::string>& words, std::string* output = nullptr,
                const std::string* input = nullptr) const;

    int Port() const { return m_port; }
    const std::string& DataDir() const { return m_dataDir; }
    // GET with headers; the status (-1 when nothing answered), body in body.
    int Get(const std::string& pathAndQuery, std::string* body = nullptr, const httplib::Headers& headers = {}) const;

    static std::string ProgramPath();

private:
    std::string m_store;
    std::string m_dataDir;
    int m_pid = -1;
    int m_port = 0;
};

// GBK bytes of the reply as UTF-8.
std::string FromGbk(const std::string& bytes);
// Runs a shell command; its exit status, stdout in output.
int RunCommand(const std::string& command, std::string* output = nullptr);
// A connection to 127.0.0.1:port, its descriptor (-1 on failure).
int ConnectTo(int port);
// What comes on fd within timeoutMs, with "<closed>" after it when the server closed the connection.
std::string ReadFor(int fd, int timeoutMs);
// Raw bytes to 127.0.0.1:port; what came back within timeoutMs, with "<closed>" after it when the server
// closed the connection.
std::string RawExchange(int port, const std::string& bytes, int timeoutMs);
