// SPDX-License-Identifier: Apache-2.0
// Clipboard translation through Kavi's service: the TranslationPort of the client sessions.
// The endpoints are read at each request, so a changed service URL or CA bundle takes effect
// at the next translation without restarting the server.
#pragma once

#include <filesystem>

#include "ports/translation_port.h"

namespace kavi::win {

inline constexpr char kServiceNotConfiguredMessage[] = "未設定 Kavi 服務地址";

class ServiceTranslation final : public TranslationPort {
 public:
  // The shipped and the user's endpoints files (see service_endpoints.h).
  ServiceTranslation(std::filesystem::path shipped_endpoints, std::filesystem::path user_endpoints);

  bool Translate(const std::string& text, const std::string& target, std::string* translation,
                 std::string* error, HttpCancellation* cancellation) override;

 private:
  const std::filesystem::path shipped_endpoints_;
  const std::filesystem::path user_endpoints_;
};

}  // namespace kavi::win
