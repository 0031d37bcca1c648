// SPDX-License-Identifier: Apache-2.0
// kavi-companion's configuration file ("companion.json" in its directory). Relative paths are
// taken from the file's folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "service/companion_vault.h"

namespace kavi::service {

inline constexpr char kCompanionConfigFileName[] = "companion.json";

// What the companion does with a request nobody has answered yet.
enum class ApprovalPolicy {
  kAsk,           // wait for `kavi-companion approve` or `deny`
  kApproveLocal,  // approve at once when it comes from this machine (a loopback address)
  kDeny,          // refuse at once
};

struct CompanionConfig {
  std::string listen = "127.0.0.1";
  uint16_t port = 8444;                  // 0: any free port (written to port_file)
  std::filesystem::path certificate;     // PEM chain, required
  std::filesystem::path private_key;     // PEM, required
  std::filesystem::path ca_certificate;  // what clients must trust (empty: a public CA)
  std::filesystem::path vault;           // required
  std::filesystem::path admin_token;     // required: the command line's credential
  std::filesystem::path port_file;
  int threads = 2;
  uint32_t ping_seconds = 10;     // a "ping" event this often on every WebSocket
  uint32_t request_seconds = 60;  // an unanswered code request is dropped after this long
  ApprovalPolicy pairing_policy = ApprovalPolicy::kAsk;
  ApprovalPolicy code_policy = ApprovalPolicy::kAsk;
  KdfStrength kdf = KdfStrength::kInteractive;  // for a vault made by `init`
  bool test_switches = false;                   // the /_test/ paths
};

bool ParseCompanionConfig(std::string_view text, const std::filesystem::path& base_directory,
                          CompanionConfig* out, std::string* error);
bool LoadCompanionConfig(const std::filesystem::path& file, CompanionConfig* out,
                         std::string* error);

}  // namespace kavi::service
