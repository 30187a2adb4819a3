#pragma once
// One connection of rivuzovara, plain or TLS: reads a request within the
// read time (a slow or silent client is closed), answers through the
// service, and keeps the connection open for the next one when the client
// asks for it. A request the service holds (WaitInfo) is given up as soon
// as its client closes or resets the connection. Lives in its io_context's
// thread; owned by its handlers.
#include "TrackingService.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>

namespace rivuzovara {

namespace beast = boost::beast;
namespace http = beast::http;

constexpr std::uint32_t kMaxHeaderBytes = 8192; // the URL is part of it
constexpr std::uint64_t kMaxBodyBytes = 4096;
constexpr auto kWriteTime = std::chrono::seconds(10);

inline http::response<http::string_body> MakeResponse(tracking::STrackingReply reply, bool keepAlive)
{
    http::response<http::string_body> response;
    response.version(11);
    response.result(static_cast<http::status>(reply.status));
    response.set(http::field::content_type, reply.contentType);
    if (reply.noStore)
        response.set(http::field::cache_control, "no-store");
    response.body() = std::move(reply.body);
    response.keep_alive(keepAlive);
    response.prepare_payload();
    return response;
}

// The counting image is most of what is answered: its bytes are made once, by the same code as every answer.
inline const std::string& SerializedPixel(bool keepAlive)
{
    static const std::array<std::string, 2> s_bytes = [] {
        std::array<std::string, 2> bytes;
        for (const bool alive : {false, true}) {
            std::ostringstream out;
            out << MakeResponse(tracking::PixelReply(), alive);
            bytes[alive ? 1 : 0] = out.str();
        }
        return bytes;
    }();
    return s_bytes[keepAlive ? 1 : 0];
}

inline bool IsPixel(const tracking::STrackingReply& reply)
{
    static const tracking::STrackingReply s_pixel = tracking::PixelReply();
    return reply.status == s_pixel.status && reply.noStore == s_pixel.noStore &&
           reply.contentType == s_pixel.contentType && reply.body == s_pixel.body;
}

template <class Stream> class CHttpSession : public std::enable_shared_from_this<CHttpSession<Stream>>
{
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

public:
    template <class... Args>
    CHttpSession(CTrackingService& service, const SOptions& options, bool metricsListen, Args&&... args)
        : m_stream(std::forward<Args>(args)...), m_service(service), m_options(options)
    {
        ++m_service.Metrics().connections;
        boost::system::error_code ec;
        m_client.peer = beast::get_lowest_layer(m_stream).socket().remote_endpoint(ec).address();
        m_metricsListen = metricsListen;
    }
    ~CHttpSession() { --m_service.Metrics().connections; }

    void Start()
    {
        if constexpr (kTls) {
            Lowest().expires_after(std::chrono::seconds(m_options.readSeconds));
            m_stream.async_handshake(boost::asio::ssl::stream_base::server,
                                     [self = this->shared_from_this()](const boost::system::error_code& ec) {
                                         if (!ec)
                                             self->Read();
                                     });
        } else {
            Read();
        }
    }

private:
    beast::tcp_stream& Lowest() { return beast::get_lowest_layer(m_stream); }

    void Read()
    {
        m_parser.emplace();
        m_parser->header_limit(kMaxHeaderBytes);
        m_parser->body_limit(kMaxBodyBytes);
        // The whole request within the read time: a client sending a byte now and then is closed all the same.
        Lowest().expires_after(std::chrono::seconds(m_options.readSeconds));
        http::async_read(
            m_stream, m_buffer, *m_parser,
            [self = this->shared_from_this()](const boost::system::error_code& ec, std::size_t) { self->OnRead(ec); });
    }

    void OnRead(const boost::system::error_code& ec)
    {
        if (ec == http::error::header_limit || ec == http::error::body_limit) {
            m_keepAlive = false;
            return Write(tracking::Utf8Reply(431, "-ERR request too large\n"));
        }
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == boost::asio::error::eof ||
            ec == boost::asio::error::connection_reset || ec == boost::asio::error::operation_aborted)
            return Close();
        if (ec) {
            m_keepAlive = false;
            return Write(tracking::Utf8Reply(400, "-ERR bad request\n"));
        }
        const auto& request = m_parser->get();
        m_keepAlive = request.keep_alive();
        if (request.method() != http::verb::get) {
            m_keepAlive = false;
            return Write(tracking::Utf8Reply(405, "-ERR only GET\n"));
        }
        tracking::STrackingRequest parsed;
        const auto target = request.target();
        tracking::ParseTarget(std::string_view(target.data(), target.size()), parsed.path, parsed.params);
        parsed.host = std::string(request[http::field::host]);
        parsed.referer = std::string(request[http::field::referer]);
        m_client.forwardedFor = std::string(request["X-Forwarded-For"]);
        // A request a proxy on this machine forwards comes from loopback too, but from the internet.
        m_client.mayReadMetrics =
            m_metricsListen || (Unmapped(m_client.peer).is_loopback() && m_client.forwardedFor.empty());
        m_awaitingReply = true;
        // On the connection's own thread the answer is written at once; from another it is handed over.
        auto giveUp = m_service.Handle(
            parsed, m_client, m_stream.get_executor(),
            [self = this->shared_from_this()](tracking::STrackingReply reply) {
                boost::asio::dispatch(self->m_stream.get_executor(),
                                      [self, reply = std::move(reply)]() mutable { self->Answer(std::move(reply)); });
            });
        if (m_awaitingReply && giveUp) {
            m_giveUp = std::move(giveUp);
            Watch();
        }
    }

    void Answer(tracking::STrackingReply reply)
    {
        if (m_left)
            return;
        m_awaitingReply = false;
        m_giveUp = nullptr;
        if (!m_watching)
            return Write(std::move(reply));
        // Written once the watching read is back: one read or write at a time, TLS too.
        m_heldReply = std::move(reply);
        Lowest().cancel();
    }

    // While a request is held, a read into the buffer: the end of the stream (or a reset) means the client left;
    // bytes are the next request, kept in the buffer for its read. Reading, not peeking: under TLS a close_notify
    // is bytes on the socket too.
    void Watch()
    {
        const size_t room = m_buffer.max_size() - m_buffer.size();
        // Full of the next request: its client's leaving is seen when the answer is written.
        if (room == 0)
            return;
        m_watching = true;
        // Held for as long as the service says; the read time is for requests.
        Lowest().expires_never();
        // Into the room the buffer has (as Beast's own reads take it): thousands of waiters, no more memory.
        const size_t chunk = std::min(room, std::max<size_t>(512, m_buffer.capacity() - m_buffer.size()));
        m_stream.async_read_some(m_buffer.prepare(chunk),
                                 [self = this->shared_from_this()](const boost::system::error_code& ec,
                                                                   std::size_t got) { self->OnWatched(ec, got); });
    }

    void OnWatched(const boost::system::error_code& ec, std::size_t got)
    {
        m_watching = false;
        m_buffer.commit(got);
        if (m_heldReply) {
            tracking::STrackingReply reply = std::move(*m_heldReply);
            m_heldReply.reset();
            return Write(std::move(reply));
        }
        if (!ec)
            return Watch();
        if (ec == boost::asio::error::operation_aborted)
            return;
        // Nobody is there to read the answer: the service forgets the request, the slot is freed.
        m_left = true;
        if (auto giveUp = std::move(m_giveUp))
            giveUp();
        boost::system::error_code ignored;
        Lowest().socket().close(ignored);
    }

    void Write(tracking::STrackingReply reply)
    {
        const auto written = [self = this->shared_from_this()](const boost::system::error_code& ec, std::size_t) {
            if (ec)
                return;
            if (self->m_keepAlive)
                self->Read();
            else
                self->Close();
        };
        Lowest().expires_after(kWriteTime);
        if (IsPixel(reply)) {
            const std::string& bytes = SerializedPixel(m_keepAlive);
            return boost::asio::async_write(m_stream, boost::asio::buffer(bytes), written);
        }
        m_response = MakeResponse(std::move(reply), m_keepAlive);
        http::async_write(m_stream, m_response, written);
    }

    void Close()
    {
        if constexpr (kTls) {
            Lowest().expires_after(kWriteTime);
            m_stream.async_shutdown([self = this->shared_from_this()](const boost::system::error_code&) {
                boost::system::error_code ignored;
                self->Lowest().socket().close(ignored);
            });
        } else {
            boost::system::error_code ignored;
            Lowest().socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
            Lowest().socket().close(ignored);
        }
    }

    Stream m_stream;
    CTrackingService& m_service;
    const SOptions& m_options;
    SClient m_client;
    beast::flat_buffer m_buffer{kMaxHeaderBytes};
    std::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::string_body> m_response;
    bool m_keepAlive = false;
    bool m_metricsListen = false;
    // A held request: what gives it up, whether a watching read is out, the answer waiting for it.
    bool m_awaitingReply = false;
    CTrackingService::GiveUp m_giveUp;
    bool m_watching = false;
    std::optional<tracking::STrackingReply> m_heldReply;
    bool m_left = false;
};

} // namespace rivuzovara
