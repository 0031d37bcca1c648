// SPDX-License-Identifier: Apache-2.0
// Where Kavi's services are: the service base URL (cloud words, translation, voice polish,
// voice models, scheme packs, the update feed), the companion base URL with the companion
// service's two public keys (its box key and its signing key, 64 hexadecimal digits each), and
// an optional CA
// bundle trusted beside the system's (for a self-hosted service with its own certificate
// authority). The shipped defaults are "endpoints.json" in the data directory; the user's
// "endpoints.json" in the configuration directory overrides them key by key.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kEndpointsFileName[] = "endpoints.json";
inline constexpr char kServiceBaseUrlKey[] = "service_base_url";
inline constexpr char kCompanionBaseUrlKey[] = "companion_base_url";
inline constexpr char kExtraCaBundleKey[] = "extra_ca_bundle";
inline constexpr char kCompanionBoxKeyKey[] = "companion_box_public_key";
inline constexpr char kCompanionSignKeyKey[] = "companion_sign_public_key";

struct ServiceEndpoints {
  std::string service_base_url;    // an https origin, no trailing slash; empty: not configured
  std::string companion_base_url;  // the same for the companion service
  std::filesystem::path extra_ca_bundle;  // PEM; empty: the system's trust store alone
  // Last, so that initialisers naming the first three keep their meaning.
  std::string companion_box_public_key;   // 64 hexadecimal digits; empty: not configured
  std::string companion_sign_public_key;  // the same

  bool operator==(const ServiceEndpoints&) const = default;
};

// Checks the value of one key: a base URL must be an https URL without credentials, fragment
// or trailing slash; a public key 64 hexadecimal digits; the CA bundle any path. False with the reason as it follows the key's name
// ("must be an https URL without a trailing slash").
bool CheckEndpointValue(std::string_view key, std::string_view value, std::string* reason);

// Applies the keys of one endpoints file to `endpoints` (a relative CA path is taken from the
// file's folder). A missing file changes nothing; an unreadable or invalid one changes nothing
// and says why in `problem`.
void ApplyEndpointsFile(const std::filesystem::path& file, ServiceEndpoints* endpoints,
                        std::string* problem);

// The shipped defaults, then the user's overrides. `problems` collects what was skipped.
ServiceEndpoints LoadServiceEndpoints(const std::filesystem::path& shipped_file,
                                      const std::filesystem::path& user_file,
                                      std::string* problems);

// Sets one key in the user's file (an empty value removes the override), replacing the file
// atomically. False with a message when the value is invalid or the file cannot be written.
bool SetUserEndpoint(const std::filesystem::path& user_file, std::string_view key,
                     std::string_view value, std::string* message);

}  // namespace kavi::win
