// SPDX-License-Identifier: Apache-2.0
#include "service/https_server.h"

#include <strings.h>

namespace kavi::service {

std::string_view HttpRequestIn::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
      return value;
  }
  return {};
}

HttpResponseOut HttpResponseOut::Json(unsigned status, std::string body) {
  HttpResponseOut out;
  out.status = status;
  out.headers.emplace_back("Content-Type", "application/json");
  out.body = std::move(body);
  return out;
}

HttpResponseOut HttpResponseOut::Text(unsigned status, std::string body) {
  HttpResponseOut out;
  out.status = status;
  out.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
  out.body = std::move(body);
  return out;
}

}  // namespace kavi::service
