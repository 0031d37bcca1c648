// SPDX-License-Identifier: Apache-2.0
#include "service/service_config.h"

#include "config/json.h"
#include "platform/file_read.h"
#include "service/config_reader.h"

namespace kavi::service {
namespace {

using win::JsonValue;

}  // namespace

bool ParseServiceConfig(std::string_view text, const std::filesystem::path& base_directory,
                        ServiceConfig* out, std::string* error) {
  JsonValue root;
  std::string parse_error;
  if (!win::server::ParseJson(text, &root, &parse_error) || !root.is_object()) {
    *error = "the configuration is not a JSON object" +
             (parse_error.empty() ? std::string() : ": " + parse_error);
    return false;
  }
  ServiceConfig config;
  ConfigReader read(root, base_directory, error);
  int64_t port = config.port, threads = config.threads, per_minute = config.reports_per_minute,
          hot = config.hot_limit, bigram = config.bigram_limit, seconds = config.snapshot_seconds;
  if (!read.Text("listen", &config.listen) || !read.Number("port", 0, 65535, &port) ||
      !read.Path("certificate", &config.certificate) ||
      !read.Path("private_key", &config.private_key) || !read.Number("threads", 1, 64, &threads) ||
      !read.Path("database", &config.database) || !read.Path("dictionary", &config.dictionary) ||
      !read.Text("libretranslate_url", &config.libretranslate_url) ||
      !read.Text("libretranslate_api_key", &config.libretranslate_api_key) ||
      !read.Number("reports_per_minute", 0, 1000000, &per_minute) ||
      !read.Number("hot_limit", 0, 50000, &hot) ||
      !read.Number("bigram_limit", 0, 100000, &bigram) ||
      !read.Number("snapshot_seconds", 0, 86400, &seconds) ||
      !read.Path("port_file", &config.port_file) ||
      !read.Path("scheme_packs", &config.scheme_packs) ||
      !read.Text("public_base_url", &config.public_base_url) ||
      !read.Flag("test_switches", &config.test_switches))
    return false;
  config.port = static_cast<uint16_t>(port);
  config.threads = static_cast<int>(threads);
  config.reports_per_minute = static_cast<uint32_t>(per_minute);
  config.hot_limit = static_cast<uint32_t>(hot);
  config.bigram_limit = static_cast<uint32_t>(bigram);
  config.snapshot_seconds = static_cast<uint32_t>(seconds);
  if (!config.public_base_url.empty() && (!config.public_base_url.starts_with("https://") ||
                                          config.public_base_url.ends_with("/")))
    return read.Bad("public_base_url", "an https URL without a trailing slash");
  if (config.certificate.empty() || config.private_key.empty() || config.database.empty()) {
    *error = "\"certificate\", \"private_key\" and \"database\" are required";
    return false;
  }
  if (const JsonValue* trees = win::server::FindJsonMember(root, "static")) {
    if (!trees->is_array()) return read.Bad("static", "an array of {\"prefix\", \"dir\"}");
    for (const JsonValue& entry : trees->array) {
      StaticTree tree;
      std::string dir;
      if (!win::server::GetJsonString(entry, "prefix", &tree.prefix) ||
          !win::server::GetJsonString(entry, "dir", &dir) || !tree.prefix.starts_with("/") ||
          tree.prefix.ends_with("/") || dir.empty())
        return read.Bad("static", "an array of {\"prefix\": \"/path\", \"dir\": \"folder\"}");
      tree.directory = read.Resolve(dir);
      config.static_trees.push_back(std::move(tree));
    }
  }
  *out = std::move(config);
  return true;
}

bool LoadServiceConfig(const std::filesystem::path& file, ServiceConfig* out, std::string* error) {
  std::string text;
  if (win::ReadRegularFile(file, kMaxConfigFileBytes, &text) != win::ReadFileResult::kRead) {
    *error = "cannot read " + file.string();
    return false;
  }
  std::filesystem::path base = std::filesystem::absolute(file).parent_path();
  return ParseServiceConfig(text, base, out, error);
}

}  // namespace kavi::service
