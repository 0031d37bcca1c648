// SPDX-License-Identifier: Apache-2.0
// Taking an HTTPS URL apart, refusing anything else: other schemes, credentials, fragments,
// control characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/http_types.h"

namespace kavi::win {

struct HttpsUrl {
  std::string host;  // an IPv6 literal keeps its brackets
  uint16_t port = 443;
  std::string path;  // "/" when empty, then "?" and the query as written
};

inline constexpr char kUrlInvalidMessage[] = "HTTPS URL 格式無效";
inline constexpr char kUrlNotHttpsMessage[] = "僅允許不含憑據的 HTTPS URL";

// False with the error filled: code 87 and stage "ParseHttpsUrl" for a URL that is empty, holds
// a control character or "#", or is not HTTPS without credentials; stage "WinHttpCrackUrl" when
// it cannot be taken apart at all.
bool ParseHttpsUrl(std::string_view url, HttpsUrl* out, HttpError* error);

}  // namespace kavi::win
