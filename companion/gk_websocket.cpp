// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_websocket.h"
#include <utility>  // before Asio: its coroutine support uses std::exchange

#include <openssl/ssl.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <optional>

namespace kavi::win {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Stream = websocket::stream<beast::ssl_stream<beast::tcp_stream>>;

// A message larger than the codec accepts is refused by the socket already.
constexpr size_t kMaxMessageBytes = 8u << 20;
constexpr auto kCloseTimeout = std::chrono::milliseconds(2000);

std::string Unbracketed(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return host.substr(1, host.size() - 2);
  return host;
}

}  // namespace

struct GkWebSocket::Impl {
  asio::io_context io;
  std::optional<ssl::context> tls;
  std::unique_ptr<Stream> ws;
  std::atomic<bool> aborted{false};
  GkWebSocketOptions options;

  // Runs one operation started by `start` until it completes or `timeout` passes; a late
  // operation is ended by closing the socket.
  template <typename Start>
  error_code Run(Start&& start, std::chrono::milliseconds timeout) {
    if (aborted) return asio::error::operation_aborted;
    std::optional<error_code> result;
    start([&result](error_code ec, auto&&...) { result = ec; });
    io.restart();
    io.run_for(timeout);
    if (!result) {
      Shut();
      io.restart();
      io.run();
      return asio::error::timed_out;
    }
    return aborted ? asio::error::operation_aborted : *result;
  }

  void Shut() {
    if (!ws) return;
    error_code ignored;
    beast::get_lowest_layer(*ws).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(*ws).socket().close(ignored);
  }

  bool Fail(error_code ec, std::string* error) {
    if (ec == asio::error::timed_out) {
      *error = kGkWebSocketTimedOut;
    } else if (aborted || ec == asio::error::operation_aborted) {
      *error = kGkWebSocketAborted;
    } else if (ec == websocket::error::closed) {
      *error = kGkWebSocketClosed;
    } else {
      *error = "GK WebSocket " + ec.message();
    }
    return false;
  }
};

GkWebSocket::GkWebSocket() : impl_(std::make_unique<Impl>()) {}

GkWebSocket::~GkWebSocket() = default;

bool GkWebSocket::Connect(const GkWebSocketOptions& options, std::string* error) {
  Impl& impl = *impl_;
  impl.options = options;
  impl.tls.emplace(ssl::context::tls_client);
  impl.tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                        ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
  impl.tls->set_verify_mode(ssl::verify_peer);
  error_code ec;
  impl.tls->set_default_verify_paths(ec);
  if (!options.extra_ca_bundle.empty()) impl.tls->load_verify_file(options.extra_ca_bundle, ec);
  impl.ws = std::make_unique<Stream>(impl.io, *impl.tls);
  impl.ws->read_message_max(kMaxMessageBytes);

  const std::string host = Unbracketed(options.host);
  tcp::resolver resolver(impl.io);
  tcp::resolver::results_type endpoints;
  ec = impl.Run(
      [&](auto handler) {
        resolver.async_resolve(host, std::to_string(options.port),
                               [&endpoints, handler](error_code e, tcp::resolver::results_type r) {
                                 endpoints = std::move(r);
                                 handler(e);
                               });
      },
      options.resolve_timeout);
  if (ec) return impl.Fail(ec, error);

  ec = impl.Run(
      [&](auto handler) { beast::get_lowest_layer(*impl.ws).async_connect(endpoints, handler); },
      options.connect_timeout);
  if (ec) return impl.Fail(ec, error);

  SSL* ssl_handle = impl.ws->next_layer().native_handle();
  error_code not_an_address;
  asio::ip::make_address(host, not_an_address);
  if (not_an_address) SSL_set_tlsext_host_name(ssl_handle, host.c_str());
  impl.ws->next_layer().set_verify_callback(ssl::host_name_verification(host));
  ec = impl.Run(
      [&](auto handler) {
        impl.ws->next_layer().async_handshake(ssl::stream_base::client, handler);
      },
      options.send_timeout);
  if (ec) return impl.Fail(ec, error);

  const std::string user_agent = options.user_agent;
  impl.ws->set_option(websocket::stream_base::decorator(
      [user_agent](websocket::request_type& r) { r.set(http::field::user_agent, user_agent); }));
  const std::string host_header =
      options.port == 443 ? options.host : options.host + ":" + std::to_string(options.port);
  websocket::response_type response;
  ec = impl.Run(
      [&](auto handler) {
        impl.ws->async_handshake(response, host_header, options.target, handler);
      },
      options.receive_timeout);
  if (ec == websocket::error::upgrade_declined) {
    *error = kGkWebSocketHttpPrefix + std::to_string(response.result_int());
    return false;
  }
  if (ec) return impl.Fail(ec, error);
  impl.ws->binary(true);
  error->clear();
  return true;
}

bool GkWebSocket::Read(std::string* message, std::string* error) {
  message->clear();
  Impl& impl = *impl_;
  if (!impl.ws) return impl.Fail(asio::error::not_connected, error);
  beast::flat_buffer buffer;
  const error_code ec = impl.Run([&](auto handler) { impl.ws->async_read(buffer, handler); },
                                 impl.options.receive_timeout);
  if (ec) return impl.Fail(ec, error);
  *message = beast::buffers_to_string(buffer.data());
  error->clear();
  return true;
}

bool GkWebSocket::Write(std::string_view message, std::string* error) {
  Impl& impl = *impl_;
  if (!impl.ws) return impl.Fail(asio::error::not_connected, error);
  const error_code ec = impl.Run(
      [&](auto handler) {
        impl.ws->async_write(asio::buffer(message.data(), message.size()), handler);
      },
      impl.options.send_timeout);
  if (ec) return impl.Fail(ec, error);
  error->clear();
  return true;
}

void GkWebSocket::Close() {
  Impl& impl = *impl_;
  if (!impl.ws) return;
  if (impl.ws->is_open())
    impl.Run([&](auto handler) { impl.ws->async_close(websocket::close_code::normal, handler); },
             kCloseTimeout);
  impl.Shut();
  impl.ws.reset();
}

void GkWebSocket::Abort() {
  Impl& impl = *impl_;
  impl.aborted = true;
  asio::post(impl.io, [&impl] { impl.Shut(); });
}

}  // namespace kavi::win
