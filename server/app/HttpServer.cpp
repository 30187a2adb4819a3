#include "HttpServer.h"

#include "HttpSession.h"
#include "Log.h"

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>

#include <ctime>

namespace rivuzovara {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct CHttpServer::SAcceptor
{
    explicit SAcceptor(asio::io_context& context) : acceptor(context), retry(context) {}
    tcp::acceptor acceptor;
    asio::steady_timer retry;
    SListen listen;
};

CHttpServer::CHttpServer(const SOptions& options, CTrackingService& service) : m_options(options), m_service(service)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i)
        m_contexts.push_back(std::make_unique<asio::io_context>(1));
}

CHttpServer::~CHttpServer()
{
    Stop();
    for (auto& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
}

bool CHttpServer::Listen(std::string& error)
{
    if (!m_options.tlsCert.empty()) {
        m_tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        boost::system::error_code ec;
        m_tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                               asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                               asio::ssl::context::no_tlsv1_1,
                           ec);
        if (!ec)
            m_tls->use_certificate_chain_file(m_options.tlsCert, ec);
        if (ec) {
            error = "cannot use the certificate " + m_options.tlsCert + ": " + ec.message();
            return false;
        }
        m_tls->use_private_key_file(m_options.tlsKey, asio::ssl::context::pem, ec);
        if (ec) {
            error = "cannot use the key " + m_options.tlsKey + ": " + ec.message();
            return false;
        }
    }
    for (const SListen& listen : m_options.listens) {
        auto entry = std::make_unique<SAcceptor>(MainContext());
        entry->listen = listen;
        boost::system::error_code ec;
        const auto address = asio::ip::make_address(listen.address, ec);
        if (ec) {
            error = "cannot listen on " + listen.address + ": not an address";
            return false;
        }
        const tcp::endpoint endpoint(address, static_cast<unsigned short>(listen.port));
        tcp::acceptor& acceptor = entry->acceptor;
        acceptor.open(endpoint.protocol(), ec);
        if (!ec)
            acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        // "::" takes IPv4 shoppers too, as IPv4-mapped addresses.
        if (!ec && address.is_v6() && address.is_unspecified())
            acceptor.set_option(asio::ip::v6_only(false), ec);
        if (!ec)
            acceptor.bind(endpoint, ec);
        if (!ec)
            acceptor.listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            error = "cannot listen on " + listen.address + " port " + std::to_string(listen.port) + ": " + ec.message();
            return false;
        }
        m_acceptors.push_back(std::move(entry));
    }
    return true;
}

std::vector<std::string> CHttpServer::Addresses() const
{
    std::vector<std::string> addresses;
    for (const auto& entry : m_acceptors) {
        boost::system::error_code ec;
        const tcp::endpoint endpoint = entry->acceptor.local_endpoint(ec);
        const std::string host =
            endpoint.address().is_v6() ? "[" + endpoint.address().to_string() + "]" : endpoint.address().to_string();
        addresses.push_back(std::string(m_tls ? "https://" : "http://") + host + ":" + std::to_string(endpoint.port()) +
                            (entry->listen.metrics ? " (with /healthz and /metrics)" : ""));
    }
    return addresses;
}

void CHttpServer::Run()
{
    for (auto& entry : m_acceptors)
        Accept(*entry);
    for (size_t i = 1; i < m_contexts.size(); ++i) {
        // Kept running while no connection is there.
        m_threads.emplace_back([context = m_contexts[i].get()] {
            auto guard = asio::make_work_guard(*context);
            context->run();
        });
    }
    auto guard = asio::make_work_guard(MainContext());
    MainContext().run();
}

void CHttpServer::Stop()
{
    for (auto& context : m_contexts)
        context->stop();
}

void CHttpServer::Accept(SAcceptor& entry)
{
    asio::io_context& context = *m_contexts[m_nextContext++ % m_contexts.size()];
    entry.acceptor.async_accept(
        context, [this, &entry, &context](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted)
                return;
            if (ec) {
                // Out of file descriptors, say: wait a little rather than spin.
                LogError("accepting a connection failed: " + ec.message());
                entry.retry.expires_after(std::chrono::milliseconds(200));
                entry.retry.async_wait([this, &entry](const boost::system::error_code& waited) {
                    if (!waited)
                        Accept(entry);
                });
                return;
            }
            if (m_service.Metrics().connections >= m_options.maxConnections) {
                Refused();
                boost::system::error_code ignored;
                socket.close(ignored);
            } else {
                boost::system::error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                // Started in the connection's own thread, where all its handlers run.
                if (m_tls) {
                    auto session = std::make_shared<CHttpSession<beast::ssl_stream<beast::tcp_stream>>>(
                        m_service, m_options, entry.listen.metrics, std::move(socket), *m_tls);
                    asio::post(context, [session] { session->Start(); });
                } else {
                    auto session = std::make_shared<CHttpSession<beast::tcp_stream>>(
                        m_service, m_options, entry.listen.metrics, std::move(socket));
                    asio::post(context, [session] { session->Start(); });
                }
            }
            Accept(entry);
        });
}

void CHttpServer::Refused()
{
    ++m_service.Metrics().connectionsRefused;
    // One line a minute at most: a flood must not flood the journal too.
    const long long now = static_cast<long long>(std::time(nullptr));
    if (now - m_lastRefusedLog >= 60) {
        m_lastRefusedLog = now;
        LogWarning("too many connections (" + std::to_string(m_options.maxConnections) +
                   " open): new ones are closed at once");
    }
}

} // namespace rivuzovara
