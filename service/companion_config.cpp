// SPDX-License-Identifier: Apache-2.0
#include "service/companion_config.h"

#include "platform/file_read.h"
#include "service/config_reader.h"

namespace kavi::service {
namespace {

bool Policy(ConfigReader& read, std::string_view key, ApprovalPolicy* out) {
  std::string text;
  if (!read.Text(key, &text)) return false;
  if (text.empty()) return true;
  if (text == "ask") {
    *out = ApprovalPolicy::kAsk;
  } else if (text == "approve_local") {
    *out = ApprovalPolicy::kApproveLocal;
  } else if (text == "deny") {
    *out = ApprovalPolicy::kDeny;
  } else {
    return read.Bad(key, "\"ask\", \"approve_local\" or \"deny\"");
  }
  return true;
}

}  // namespace

bool ParseCompanionConfig(std::string_view text, const std::filesystem::path& base_directory,
                          CompanionConfig* out, std::string* error) {
  win::JsonValue root;
  std::string parse_error;
  if (!win::server::ParseJson(text, &root, &parse_error) || !root.is_object()) {
    *error = "the configuration is not a JSON object" +
             (parse_error.empty() ? std::string() : ": " + parse_error);
    return false;
  }
  CompanionConfig config;
  ConfigReader read(root, base_directory, error);
  int64_t port = config.port, threads = config.threads, ping = config.ping_seconds,
          request = config.request_seconds;
  std::string kdf;
  if (!read.Text("listen", &config.listen) || !read.Number("port", 0, 65535, &port) ||
      !read.Path("certificate", &config.certificate) ||
      !read.Path("private_key", &config.private_key) ||
      !read.Path("ca_certificate", &config.ca_certificate) || !read.Path("vault", &config.vault) ||
      !read.Path("admin_token", &config.admin_token) ||
      !read.Path("port_file", &config.port_file) || !read.Number("threads", 1, 64, &threads) ||
      !read.Number("ping_seconds", 1, 25, &ping) ||
      !read.Number("request_seconds", 5, 600, &request) ||
      !Policy(read, "pairing_policy", &config.pairing_policy) ||
      !Policy(read, "code_policy", &config.code_policy) || !read.Text("kdf", &kdf) ||
      !read.Flag("test_switches", &config.test_switches))
    return false;
  if (kdf == "moderate") {
    config.kdf = KdfStrength::kModerate;
  } else if (!kdf.empty() && kdf != "interactive") {
    return read.Bad("kdf", "\"interactive\" or \"moderate\"");
  }
  config.port = static_cast<uint16_t>(port);
  config.threads = static_cast<int>(threads);
  config.ping_seconds = static_cast<uint32_t>(ping);
  config.request_seconds = static_cast<uint32_t>(request);
  if (config.certificate.empty() || config.private_key.empty() || config.vault.empty() ||
      config.admin_token.empty()) {
    *error = "\"certificate\", \"private_key\", \"vault\" and \"admin_token\" are required";
    return false;
  }
  *out = std::move(config);
  return true;
}

bool LoadCompanionConfig(const std::filesystem::path& file, CompanionConfig* out,
                         std::string* error) {
  std::string text;
  if (win::ReadRegularFile(file, kMaxConfigFileBytes, &text) != win::ReadFileResult::kRead) {
    *error = "cannot read " + file.string();
    return false;
  }
  return ParseCompanionConfig(text, std::filesystem::absolute(file).parent_path(), out, error);
}

}  // namespace kavi::service
