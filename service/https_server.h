// SPDX-License-Identifier: Apache-2.0
// The HTTPS server core of Kavi's self-hosted services (kavi-service, and kavi-companion beside
// it): TLS with a given certificate, HTTP/1.1 with keep-alive, bounded request bodies, a
// synchronous handler per request, bodies from memory or streamed from a file range, the
// delivery faults that tests switch on, and WebSocket upgrades handed to a session of the
// service's own. Built on Boost.Beast and Boost.Asio coroutines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavi::service {

struct HttpsServerOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 0;                        // 0: any free port (see HttpsServer::port)
  std::filesystem::path certificate_chain;  // PEM, the server's certificate first
  std::filesystem::path private_key;        // PEM
  int threads = 2;
  uint64_t max_request_body_bytes = 1 << 20;
  uint32_t idle_timeout_ms = 30000;  // a connection without a request for this long is closed
};

struct HttpRequestIn {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;    // the target before "?"
  std::string query;   // after "?", without it
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string peer;  // the client's address

  // The first header of that name (case-insensitive); empty when absent.
  std::string_view Header(std::string_view name) const;
};

// How a response is delivered wrong on purpose (tests only).
struct DeliveryFaults {
  uint32_t delay_before_headers_ms = 0;
  // Send this many body bytes, then drop the connection.
  uint64_t truncate_after = std::numeric_limits<uint64_t>::max();
  // Write the body in pieces of this size with a pause after each (0: at full speed).
  uint32_t slow_chunk_bytes = 0;
  uint32_t slow_interval_ms = 0;
  // Append this many filler bytes to the body (counted in Content-Length).
  uint64_t oversize_by = 0;
};

struct HttpResponseOut {
  unsigned status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // When set, the body is the byte range [file_offset, file_offset + file_length) of this
  // file, streamed, instead of `body`.
  std::filesystem::path file;
  uint64_t file_offset = 0;
  uint64_t file_length = 0;
  DeliveryFaults faults;

  static HttpResponseOut Json(unsigned status, std::string body);
  static HttpResponseOut Text(unsigned status, std::string body);
};

using HttpHandler = std::function<HttpResponseOut(const HttpRequestIn&)>;

// A WebSocket the server accepted. Every call may come from any thread; after the connection
// ended they do nothing.
class WebSocketPeer {
 public:
  virtual ~WebSocketPeer() = default;
  // Queues one binary message.
  virtual void Send(std::string message) = 0;
  // Closes with status 1000 (normal closure) once the queued messages are out.
  virtual void Close() = 0;
  // Drops the connection without a closing handshake, as a network failure would.
  virtual void Cut() = 0;
};

// The service's side of one WebSocket: its messages, then its end. Called on the connection's
// own strand, one call at a time.
class WebSocketSession {
 public:
  virtual ~WebSocketSession() = default;
  virtual void OnMessage(const std::string& message) = 0;
  virtual void OnClose() = 0;
};

// Decides on an upgrade request: a session accepts it (the peer is the way to the client); null
// refuses it with `refusal` as the HTTP answer.
using WebSocketHandler = std::function<std::shared_ptr<WebSocketSession>(
    const HttpRequestIn& request, std::shared_ptr<WebSocketPeer> peer, HttpResponseOut* refusal)>;

class HttpsServer {
 public:
  HttpsServer();
  ~HttpsServer();  // stops
  HttpsServer(const HttpsServer&) = delete;
  HttpsServer& operator=(const HttpsServer&) = delete;

  // Loads the certificate, binds and starts the threads. False with a message on failure.
  bool Start(const HttpsServerOptions& options, HttpHandler handler, std::string* message);
  // Accepts WebSocket upgrades through `handler` (set before Start); without one, an upgrade
  // request is an ordinary request.
  void SetWebSocketHandler(WebSocketHandler handler);
  // The bound port (after Start).
  uint16_t port() const;
  // Blocks until Stop is called from another thread (or a signal handler's thread).
  void Wait();
  // Closes the listener and every connection, joins the threads.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kavi::service
