// SPDX-License-Identifier: Apache-2.0
// The records of one HTTPS exchange: what is sent, what came back, and why it failed.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kavi::win {

class HttpCancellation;

inline constexpr uint32_t kHttpMaxTimeoutMs = 600000;              // ten minutes
inline constexpr uint64_t kHttpDefaultMaxResponseBytes = 8388608;  // 8 MiB
inline constexpr uint64_t kHttpMaxBodyBytes = 0xFFFFFFFFu;

// Error codes. Transport failures carry the code of the WinHTTP error that the failure stands
// for, so that callers and logs speak one vocabulary on every platform.
inline constexpr uint32_t kHttpErrorInvalidArgument = 87;
inline constexpr uint32_t kHttpErrorResponseTooLarge = 223;
inline constexpr uint32_t kHttpErrorOutOfMemory = 8;
inline constexpr uint32_t kHttpErrorTimeout = 12002;
inline constexpr uint32_t kHttpErrorInternal = 12004;
inline constexpr uint32_t kHttpErrorInvalidUrl = 12005;
inline constexpr uint32_t kHttpErrorNameNotResolved = 12007;
inline constexpr uint32_t kHttpErrorCancelled = 12017;
inline constexpr uint32_t kHttpErrorCannotConnect = 12029;
inline constexpr uint32_t kHttpErrorConnection = 12030;
inline constexpr uint32_t kHttpErrorInvalidServerResponse = 12152;
inline constexpr uint32_t kHttpErrorSecureFailure = 12175;

struct HttpRequest {
  std::string method = "GET";
  std::string url;                                           // absolute https URL
  std::vector<std::pair<std::string, std::string>> headers;  // sent in order
  std::string body;
  uint32_t resolve_timeout_ms = 5000;
  uint32_t connect_timeout_ms = 5000;
  uint32_t send_timeout_ms = 15000;
  uint32_t receive_timeout_ms = 15000;
  uint64_t max_response_bytes = kHttpDefaultMaxResponseBytes;  // never 0
  HttpCancellation* cancellation = nullptr;
};

struct HttpResponse {
  uint32_t status = 0;
  std::string raw_headers;  // the status line and every header line, each ending in CR LF
  std::string body;

  void Clear() {
    status = 0;
    raw_headers.clear();
    body.clear();
  }
};

struct HttpError {
  uint32_t code = 0;
  std::string stage;    // the failing step, e.g. "WinHttpSendRequest"
  std::string message;  // for the user; empty when stage and code say enough
};

}  // namespace kavi::win
