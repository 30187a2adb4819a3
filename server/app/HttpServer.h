#pragma once
// The HTTP(S) side of rivuzovara: one io_context per core, each run by one
// thread; the listening sockets accept on the first and hand each
// connection to the next context in turn. A connection lives in its
// context's thread until it closes. Bounded: past maxConnections a new
// connection is closed at once, with a log line.
#include "Options.h"
#include "TrackingService.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace rivuzovara {

class CHttpServer
{
public:
    CHttpServer(const SOptions& options, CTrackingService& service);
    ~CHttpServer();

    // Binds every --listen and loads the certificate; false with the reason.
    bool Listen(std::string& error);
    // "http://127.0.0.1:8780" for each listen, in order, with the real ports.
    std::vector<std::string> Addresses() const;
    // Runs the threads until Stop (from any thread, or a signal handler's context).
    void Run();
    void Stop();
    boost::asio::io_context& MainContext() { return *m_contexts.front(); }

private:
    struct SAcceptor;
    void Accept(SAcceptor& acceptor);
    void Refused();

    const SOptions& m_options;
    CTrackingService& m_service;
    std::vector<std::unique_ptr<boost::asio::io_context>> m_contexts;
    std::vector<std::unique_ptr<SAcceptor>> m_acceptors;
    std::unique_ptr<boost::asio::ssl::context> m_tls;
    size_t m_nextContext = 0;
    long long m_lastRefusedLog = 0;
    std::vector<std::thread> m_threads;
};

} // namespace rivuzovara
