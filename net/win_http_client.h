// SPDX-License-Identifier: Apache-2.0
// The one HTTPS client: every request of the server, its services and its downloads goes through
// WinHttpClient. Blocking and synchronous; HTTPS only; redirects are never followed (a 3xx
// comes back as it is); bounded time-outs and response size; cancellable from another thread
// through HttpCancellation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "net/http_types.h"

namespace kavi::win {

inline constexpr char kHttpUserAgent[] = "Kavi-Windows/1.0";
inline constexpr char kHttpArgumentsMessage[] = "HTTP 請求參數無效";
inline constexpr char kHttpHeadersMessage[] = "HTTP 標頭格式無效";
inline constexpr char kHttpTooLargeMessage[] = "HTTP 響應超過大小限制";

struct HttpClientOptions {
  // PEM certificates trusted in addition to the system's (a self-hosted service's own CA).
  // Empty: the system's trust store alone.
  std::filesystem::path extra_ca_bundle;
};

// Receives a response as it streams in (Stream).
class HttpBodySink {
 public:
  virtual ~HttpBodySink() = default;
  // Once, when the final response's header block is complete; false stops the transfer.
  virtual bool OnHeaders(uint32_t status, const std::string& raw_headers) = 0;
  // Each piece of the body as it arrives; false stops the transfer.
  virtual bool OnBody(const char* data, size_t size) = 0;
};

class WinHttpClient {
 public:
  WinHttpClient();
  explicit WinHttpClient(const HttpClientOptions& options);
  ~WinHttpClient();
  WinHttpClient(const WinHttpClient&) = delete;
  WinHttpClient& operator=(const WinHttpClient&) = delete;

  // False when the extra CA bundle could not be read (the client then trusts only the system's
  // store); the reason is in `message`.
  bool ca_bundle_loaded(std::string* message) const;

  // True on any completed exchange, whatever its status; false with the error filled otherwise
  // (the response is cleared first and left empty on failure). The body may be at most
  // max_response_bytes long: one byte more fails with code 223 at stage "WinHttpReadData".
  bool Send(const HttpRequest& request, HttpResponse* response, HttpError* error) const;

  // The same exchange, handing the body to `sink` piece by piece instead of keeping it
  // (max_response_bytes does not apply: the sink decides). A sink that stops the transfer makes
  // Stream fail with code 12017 at the stage where it stopped.
  bool Stream(const HttpRequest& request, HttpBodySink* sink, HttpError* error) const;

 private:
  struct TrustAnchors;
  std::unique_ptr<TrustAnchors> anchors_;
};

// The checks Send makes before any connection, in its order: arguments (stage "Send", code 87,
// "HTTP 請求參數無效"), headers ("HTTP 標頭格式無效"), then the URL (ParseHttpsUrl).
bool ValidateHttpRequest(const HttpRequest& request, HttpError* error);

}  // namespace kavi::win
