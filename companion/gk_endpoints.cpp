// SPDX-License-Identifier: Apache-2.0
#include "companion/gk_endpoints.h"

#include <sodium.h>

#include "net/service_endpoints.h"
#include "platform/log.h"

namespace kavi::win {
namespace {

// 64 hexadecimal digits as 32 bytes; empty when they are not.
std::string KeyFromHex(const std::string& hex) {
  std::string key(kBoxPublicKeyBytes, '\0');
  size_t length = 0;
  if (sodium_hex2bin(reinterpret_cast<unsigned char*>(key.data()), key.size(), hex.data(),
                     hex.size(), nullptr, &length, nullptr) != 0 ||
      length != key.size())
    return {};
  return key;
}

}  // namespace

GkEndpointsSource GkEndpointsFromFiles(std::filesystem::path shipped_file,
                                       std::filesystem::path user_file) {
  return [shipped_file = std::move(shipped_file), user_file = std::move(user_file)](
             GkEndpoints* endpoints, std::string* error) {
    std::string problems;
    const ServiceEndpoints files = LoadServiceEndpoints(shipped_file, user_file, &problems);
    if (!problems.empty()) LogLine("[Kavi] " + problems + "\n");
    endpoints->base_url = files.companion_base_url;
    endpoints->service_keys.box_public_key = KeyFromHex(files.companion_box_public_key);
    endpoints->service_keys.sign_public_key = KeyFromHex(files.companion_sign_public_key);
    endpoints->extra_ca_bundle = files.extra_ca_bundle;
    if (endpoints->base_url.empty() || endpoints->service_keys.box_public_key.empty() ||
        endpoints->service_keys.sign_public_key.empty()) {
      *error = kGkNotConfigured;
      return false;
    }
    return true;
  };
}

}  // namespace kavi::win
