// SPDX-License-Identifier: Apache-2.0
// The companion client's HTTP calls: POSTs of MessagePack bodies to the companion base URL +
// "/v3" + a path, with their time-outs and their two error messages.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/win_http_client.h"

namespace kavi::win {

inline constexpr char kGkApiPrefix[] = "/v3";
inline constexpr char kGkHttpStatusPrefix[] = "GK HTTP ";
inline constexpr char kGkNetworkErrorPrefix[] = "GK network error ";

class GkHttp {
 public:
  // `body` is posted as "application/octet-stream"; the reply's body comes back in `reply`.
  // A status outside 200-299 fails with "GK HTTP <status>", a transport failure with
  // "GK network error <message>".
  bool Post(const std::string& base_url, const std::filesystem::path& extra_ca_bundle,
            std::string_view path, std::string body, std::string* reply, std::string* error,
            HttpCancellation* cancellation);

 private:
  // One client per CA bundle, kept while the bundle stays the same.
  std::shared_ptr<const WinHttpClient> ClientFor(const std::filesystem::path& extra_ca_bundle);

  std::mutex mutex_;
  std::filesystem::path bundle_;
  std::shared_ptr<const WinHttpClient> client_;
};

}  // namespace kavi::win
