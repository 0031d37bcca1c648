// SPDX-License-Identifier: Apache-2.0
#include <utility>  // before Asio: its coroutine support uses std::exchange

#include "service/https_server.h"

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace kavi::service {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;
using boost::system::error_code;

// Large writes keep a download's TLS records full and its system calls few.
constexpr size_t kWritePieceBytes = 256 * 1024;
constexpr auto kShutdownTimeout = std::chrono::seconds(2);

auto Checked(error_code& ec) {
  return asio::redirect_error(asio::use_awaitable, ec);
}

asio::awaitable<void> Sleep(uint32_t ms) {
  asio::steady_timer timer(co_await asio::this_coro::executor);
  timer.expires_after(std::chrono::milliseconds(ms));
  error_code ec;
  co_await timer.async_wait(Checked(ec));
}

// The body bytes [offset, offset + size) of a response: from memory or the file, then filler.
class BodySource {
 public:
  explicit BodySource(const HttpResponseOut& out)
      : out_(out), length_(out.file.empty() ? out.body.size() : out.file_length) {}

  bool Open() {
    if (out_.file.empty()) return true;
    error_code ec;
    file_.open(out_.file.c_str(), beast::file_mode::read, ec);
    if (!ec) file_.seek(out_.file_offset, ec);
    return !ec;
  }
  uint64_t length() const { return length_; }

  // The next `size` bytes, read in order.
  bool Next(size_t size, std::string* piece) {
    piece->resize(size);
    size_t filled = 0;
    if (position_ < length_) {
      const size_t real = static_cast<size_t>(std::min<uint64_t>(size, length_ - position_));
      if (out_.file.empty()) {
        std::copy_n(out_.body.data() + position_, real, piece->data());
      } else {
        while (filled < real) {
          error_code ec;
          const size_t got = file_.read(piece->data() + filled, real - filled, ec);
          if (ec || got == 0) return false;
          filled += got;
        }
      }
      filled = real;
    }
    std::fill(piece->begin() + static_cast<std::ptrdiff_t>(filled), piece->end(), 'x');
    position_ += size;
    return true;
  }

 private:
  const HttpResponseOut& out_;
  const uint64_t length_;
  uint64_t position_ = 0;
  beast::file file_;
};

// A message larger than this ends the WebSocket.
constexpr size_t kMaxWebSocketMessageBytes = 1 << 20;

// One accepted WebSocket: the stream and what its writer has to send. It lives while its reader
// or its writer coroutine runs, on the connection's strand.
struct WsConnection {
  explicit WsConnection(TlsStream stream) : ws(std::move(stream)), wake(ws.get_executor()) {}

  websocket::stream<TlsStream> ws;
  std::deque<std::string> queue;
  asio::steady_timer wake;  // the writer waits on it for more to do
  bool closing = false;     // close once the queue is out
  bool done = false;        // the connection ended
};

// How a peer finds its connection. Until the upgrade completes, messages wait in `early` (the
// service greets a connection as it accepts it); once the connection has ended, nothing goes.
struct WsLink {
  std::mutex mutex;
  std::shared_ptr<WsConnection> connection;
  std::deque<std::string> early;
  bool ended = false;
};

class WsPeer final : public WebSocketPeer {
 public:
  explicit WsPeer(std::shared_ptr<WsLink> link) : link_(std::move(link)) {}

  void Send(std::string message) override {
    {
      std::lock_guard<std::mutex> hold(link_->mutex);
      if (link_->ended) return;
      if (!link_->connection) {
        link_->early.push_back(std::move(message));
        return;
      }
    }
    OnStrand([message = std::move(message)](WsConnection& c) mutable {
      c.queue.push_back(std::move(message));
      c.wake.cancel();
    });
  }
  void Close() override {
    OnStrand([](WsConnection& c) {
      c.closing = true;
      c.wake.cancel();
    });
  }
  void Cut() override {
    OnStrand([](WsConnection& c) {
      error_code ignored;
      beast::get_lowest_layer(c.ws).socket().shutdown(tcp::socket::shutdown_both, ignored);
      beast::get_lowest_layer(c.ws).close();
    });
  }

 private:
  // Runs `f` on the connection's strand, if the connection is still there.
  template <typename F>
  void OnStrand(F f) {
    std::lock_guard<std::mutex> hold(link_->mutex);
    if (!link_->connection) return;
    std::shared_ptr<WsConnection> connection = link_->connection;
    asio::post(connection->ws.get_executor(),
               [connection, f = std::move(f)]() mutable {
                 if (!connection->done) f(*connection);
               });
  }

  std::shared_ptr<WsLink> link_;
};

asio::awaitable<void> WriteWebSocket(std::shared_ptr<WsConnection> c) {
  error_code ec;
  for (;;) {
    while (!c->queue.empty() && !c->done) {
      co_await c->ws.async_write(asio::buffer(c->queue.front()), Checked(ec));
      if (ec) c->done = true;
      c->queue.pop_front();
    }
    if (c->done) co_return;
    if (c->closing) {
      co_await c->ws.async_close(websocket::close_code::normal, Checked(ec));
      co_return;
    }
    c->wake.expires_at(asio::steady_timer::time_point::max());
    co_await c->wake.async_wait(Checked(ec));
  }
}

}  // namespace

struct HttpsServer::Impl {
  asio::io_context io;
  ssl::context tls{ssl::context::tls_server};
  std::optional<tcp::acceptor> acceptor;
  HttpsServerOptions options;
  HttpHandler handler;
  WebSocketHandler websocket_handler;
  std::vector<std::thread> threads;
  uint16_t port = 0;
  std::mutex mutex;
  std::condition_variable stopped_signal;
  bool stopped = false;
  // Every WebSocket's link (guarded by `mutex`): a stopped server ends them all, so that a peer
  // the service still holds keeps no stream alive past the io_context its stream belongs to.
  std::vector<std::weak_ptr<WsLink>> links;

  void Register(const std::shared_ptr<WsLink>& link) {
    std::lock_guard<std::mutex> hold(mutex);
    std::erase_if(links, [](const std::weak_ptr<WsLink>& l) { return l.expired(); });
    links.push_back(link);
  }

  asio::awaitable<void> Accept() {
    for (;;) {
      error_code ec;
      tcp::socket socket = co_await acceptor->async_accept(asio::make_strand(io), Checked(ec));
      if (ec) {
        if (ec == asio::error::operation_aborted || !acceptor->is_open()) co_return;
        continue;  // a connection that failed before it was accepted
      }
      socket.set_option(tcp::no_delay(true), ec);
      auto executor = socket.get_executor();
      asio::co_spawn(executor, Serve(std::move(socket)), asio::detached);
    }
  }

  asio::awaitable<void> Serve(tcp::socket socket) {
    error_code ec;
    const tcp::endpoint remote = socket.remote_endpoint(ec);
    const std::string peer = ec ? std::string() : remote.address().to_string();
    TlsStream stream(std::move(socket), tls);
    const auto idle = std::chrono::milliseconds(options.idle_timeout_ms);
    beast::get_lowest_layer(stream).expires_after(idle);
    co_await stream.async_handshake(ssl::stream_base::server, Checked(ec));
    if (ec) co_return;
    beast::flat_buffer buffer;
    for (;;) {
      http::request_parser<http::string_body> parser;
      parser.body_limit(options.max_request_body_bytes);
      beast::get_lowest_layer(stream).expires_after(idle);
      co_await http::async_read(stream, buffer, parser, Checked(ec));
      if (ec == http::error::body_limit) {
        HttpResponseOut too_large = HttpResponseOut::Text(413, "request body too large\n");
        co_await Write(stream, 11, false, false, too_large);
        break;
      }
      if (ec) break;
      const http::request<http::string_body>& message = parser.get();
      HttpRequestIn request;
      request.method = std::string(message.method_string());
      request.target = std::string(message.target());
      const size_t question = request.target.find('?');
      request.path = request.target.substr(0, question);
      if (question != std::string::npos) request.query = request.target.substr(question + 1);
      for (const auto& field : message)
        request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
      request.body = message.body();
      request.peer = peer;
      if (websocket_handler && websocket::is_upgrade(message)) {
        co_await ServeWebSocket(std::move(stream), parser.release(), request);
        co_return;
      }
      HttpResponseOut response;
      try {
        response = handler(request);
      } catch (const std::exception&) {
        response = HttpResponseOut::Text(500, "internal error\n");
      }
      const bool keep_alive = message.keep_alive();
      const bool written = co_await Write(stream, message.version(), keep_alive,
                                          message.method() == http::verb::head, response);
      if (!written || !keep_alive) break;
    }
    beast::get_lowest_layer(stream).expires_after(kShutdownTimeout);
    co_await stream.async_shutdown(Checked(ec));
  }

  // The connection after an upgrade request: refused with the service's answer, or accepted
  // and read until it ends while its writer sends what the service queues.
  asio::awaitable<void> ServeWebSocket(TlsStream stream, http::request<http::string_body> upgrade,
                                       HttpRequestIn request) {
    auto link = std::make_shared<WsLink>();
    Register(link);
    HttpResponseOut refusal = HttpResponseOut::Text(400, "WebSocket refused\n");
    std::shared_ptr<WebSocketSession> session;
    try {
      session = websocket_handler(request, std::make_shared<WsPeer>(link), &refusal);
    } catch (const std::exception&) {
      refusal = HttpResponseOut::Text(500, "internal error\n");
    }
    error_code ec;
    if (!session) {
      co_await Write(stream, upgrade.version(), false, false, refusal);
      beast::get_lowest_layer(stream).expires_after(kShutdownTimeout);
      co_await stream.async_shutdown(Checked(ec));
      co_return;
    }
    auto connection = std::make_shared<WsConnection>(std::move(stream));
    websocket::stream<TlsStream>& ws = connection->ws;
    beast::get_lowest_layer(ws).expires_never();
    ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws.read_message_max(kMaxWebSocketMessageBytes);
    ws.binary(true);
    co_await ws.async_accept(upgrade, Checked(ec));
    if (!ec) {
      {
        std::lock_guard<std::mutex> hold(link->mutex);
        link->connection = connection;
        connection->queue = std::move(link->early);
      }
      asio::co_spawn(ws.get_executor(), WriteWebSocket(connection), asio::detached);
      beast::flat_buffer buffer;
      for (;;) {
        co_await ws.async_read(buffer, Checked(ec));
        if (ec) break;
        const std::string message = beast::buffers_to_string(buffer.data());
        buffer.consume(buffer.size());
        try {
          session->OnMessage(message);
        } catch (const std::exception&) {
        }
      }
    }
    {
      std::lock_guard<std::mutex> hold(link->mutex);
      link->connection.reset();
      link->early.clear();
      link->ended = true;
    }
    connection->done = true;
    connection->wake.cancel();
    session->OnClose();
  }

  // False when the connection is no longer usable (a write failed or a fault dropped it).
  asio::awaitable<bool> Write(TlsStream& stream, unsigned version, bool keep_alive, bool head,
                              const HttpResponseOut& out) {
    const DeliveryFaults& faults = out.faults;
    if (faults.delay_before_headers_ms != 0) co_await Sleep(faults.delay_before_headers_ms);
    BodySource source(out);
    if (!source.Open()) {
      HttpResponseOut missing = HttpResponseOut::Text(500, "cannot read the file\n");
      co_return co_await Write(stream, version, false, head, missing);
    }
    const uint64_t total = source.length() + faults.oversize_by;
    http::response<http::empty_body> header;
    header.version(version);
    header.result(out.status);
    header.set(http::field::server, "kavi-service");
    for (const auto& [name, value] : out.headers) header.insert(name, value);
    header.content_length(total);
    header.keep_alive(keep_alive);
    http::response_serializer<http::empty_body> serializer(header);
    auto& lowest = beast::get_lowest_layer(stream);
    const auto idle = std::chrono::milliseconds(options.idle_timeout_ms);
    error_code ec;
    lowest.expires_after(idle);
    co_await http::async_write_header(stream, serializer, Checked(ec));
    if (ec) co_return false;
    if (head) co_return true;

    const uint64_t limit = std::min(total, faults.truncate_after);
    const size_t piece_size =
        faults.slow_chunk_bytes != 0 ? faults.slow_chunk_bytes : kWritePieceBytes;
    std::string piece;
    uint64_t sent = 0;
    while (sent < limit) {
      const size_t size = static_cast<size_t>(std::min<uint64_t>(piece_size, limit - sent));
      if (!source.Next(size, &piece)) co_return false;
      lowest.expires_after(idle);
      co_await asio::async_write(stream, asio::buffer(piece), Checked(ec));
      if (ec) co_return false;
      sent += size;
      if (faults.slow_interval_ms != 0 && sent < limit) co_await Sleep(faults.slow_interval_ms);
    }
    if (sent < total) {
      // Cut mid-body: drop the connection without a TLS goodbye, as a crash would.
      lowest.socket().shutdown(tcp::socket::shutdown_both, ec);
      lowest.close();
      co_return false;
    }
    co_return true;
  }
};

HttpsServer::HttpsServer() : impl_(std::make_unique<Impl>()) {}

HttpsServer::~HttpsServer() {
  Stop();
}

bool HttpsServer::Start(const HttpsServerOptions& options, HttpHandler handler,
                        std::string* message) {
  Impl& impl = *impl_;
  impl.options = options;
  impl.handler = std::move(handler);
  error_code ec;
  impl.tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                       ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
  impl.tls.use_certificate_chain_file(options.certificate_chain.string(), ec);
  if (ec) {
    *message =
        "cannot load the certificate " + options.certificate_chain.string() + ": " + ec.message();
    return false;
  }
  impl.tls.use_private_key_file(options.private_key.string(), ssl::context::pem, ec);
  if (ec) {
    *message = "cannot load the private key " + options.private_key.string() + ": " + ec.message();
    return false;
  }
  const asio::ip::address address = asio::ip::make_address(options.address, ec);
  if (ec) {
    *message = "invalid listen address " + options.address;
    return false;
  }
  impl.acceptor.emplace(impl.io);
  const tcp::endpoint endpoint(address, options.port);
  impl.acceptor->open(endpoint.protocol(), ec);
  if (!ec) impl.acceptor->set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl.acceptor->bind(endpoint, ec);
  if (!ec) impl.acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *message = "cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " +
               ec.message();
    impl.acceptor.reset();
    return false;
  }
  impl.port = impl.acceptor->local_endpoint().port();
  asio::co_spawn(impl.io, impl.Accept(), asio::detached);
  const int threads = std::max(1, options.threads);
  for (int i = 0; i < threads; ++i) impl.threads.emplace_back([&impl] { impl.io.run(); });
  return true;
}

void HttpsServer::SetWebSocketHandler(WebSocketHandler handler) {
  impl_->websocket_handler = std::move(handler);
}

uint16_t HttpsServer::port() const {
  return impl_->port;
}

void HttpsServer::Wait() {
  std::unique_lock<std::mutex> hold(impl_->mutex);
  impl_->stopped_signal.wait(hold, [this] { return impl_->stopped; });
}

void HttpsServer::Stop() {
  Impl& impl = *impl_;
  {
    std::lock_guard<std::mutex> hold(impl.mutex);
    if (impl.stopped) return;
    impl.stopped = true;
  }
  if (impl.acceptor) {
    asio::post(impl.io, [&impl] {
      error_code ignored;
      impl.acceptor->close(ignored);
    });
  }
  impl.io.stop();
  for (std::thread& thread : impl.threads) thread.join();
  impl.threads.clear();
  std::vector<std::weak_ptr<WsLink>> links;
  {
    std::lock_guard<std::mutex> hold(impl.mutex);
    links.swap(impl.links);
  }
  for (const std::weak_ptr<WsLink>& weak : links) {
    if (std::shared_ptr<WsLink> link = weak.lock()) {
      std::lock_guard<std::mutex> hold(link->mutex);
      link->connection.reset();
      link->early.clear();
      link->ended = true;
    }
  }
  impl.stopped_signal.notify_all();
}

}  // namespace kavi::service
