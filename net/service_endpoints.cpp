// SPDX-License-Identifier: Apache-2.0
#include "net/service_endpoints.h"

#include "config/json.h"
#include "net/https_url.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"

namespace kavi::win {
namespace {

constexpr uintmax_t kMaxEndpointsBytes = 64 * 1024;
constexpr std::string_view kKeys[] = {kServiceBaseUrlKey, kCompanionBaseUrlKey, kExtraCaBundleKey,
                                      kCompanionBoxKeyKey, kCompanionSignKeyKey};
constexpr size_t kPublicKeyHexDigits = 64;

bool KnownKey(std::string_view key) {
  for (std::string_view known : kKeys) {
    if (key == known) return true;
  }
  return false;
}

// The file's object; an absent file is an empty object.
bool ReadObject(const std::filesystem::path& file, JsonValue* root, std::string* problem) {
  std::string text;
  int error = 0;
  switch (ReadRegularFile(file, kMaxEndpointsBytes, &text, &error)) {
    case ReadFileResult::kCannotOpen:
      if (error == ENOENT) {
        *root = server::MakeJsonObject({});
        return true;
      }
      [[fallthrough]];
    case ReadFileResult::kUnreadable:
      *problem = "cannot read " + file.string();
      return false;
    case ReadFileResult::kRead:
      break;
  }
  std::string parse_error;
  if (!server::ParseJson(text, root, &parse_error) || !root->is_object()) {
    *problem = file.string() + " is not a JSON object" +
               (parse_error.empty() ? std::string() : ": " + parse_error);
    return false;
  }
  return true;
}

}  // namespace

bool CheckEndpointValue(std::string_view key, std::string_view value, std::string* reason) {
  if (!KnownKey(key)) {
    *reason = "is not an endpoint key";
    return false;
  }
  if (key == kExtraCaBundleKey || value.empty()) return true;
  if (key == kCompanionBoxKeyKey || key == kCompanionSignKeyKey) {
    const bool hex = value.size() == kPublicKeyHexDigits &&
                     value.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    if (!hex) *reason = "must be 64 hexadecimal digits";
    return hex;
  }
  HttpsUrl url;
  HttpError error;
  if (!ParseHttpsUrl(value, &url, &error) || value.back() == '/') {
    *reason = "must be an https URL without credentials, fragment or trailing slash";
    return false;
  }
  return true;
}

void ApplyEndpointsFile(const std::filesystem::path& file, ServiceEndpoints* endpoints,
                        std::string* problem) {
  JsonValue root;
  if (!ReadObject(file, &root, problem)) return;
  ServiceEndpoints applied = *endpoints;
  for (const auto& [key, value] : root.object) {
    std::string reason;
    if (!KnownKey(key)) continue;  // a newer program's key
    if (!value.is_string() || !CheckEndpointValue(key, value.string, &reason)) {
      *problem = file.string() + ": " + std::string(key) + " " +
                 (reason.empty() ? "must be a string" : reason);
      return;
    }
    if (key == kServiceBaseUrlKey) applied.service_base_url = value.string.str();
    if (key == kCompanionBaseUrlKey) applied.companion_base_url = value.string.str();
    if (key == kCompanionBoxKeyKey) applied.companion_box_public_key = value.string.str();
    if (key == kCompanionSignKeyKey) applied.companion_sign_public_key = value.string.str();
    if (key == kExtraCaBundleKey) {
      const std::filesystem::path bundle(value.string.str());
      applied.extra_ca_bundle =
          bundle.empty() || bundle.is_absolute() ? bundle : file.parent_path() / bundle;
    }
  }
  *endpoints = std::move(applied);
}

ServiceEndpoints LoadServiceEndpoints(const std::filesystem::path& shipped_file,
                                      const std::filesystem::path& user_file,
                                      std::string* problems) {
  ServiceEndpoints endpoints;
  problems->clear();
  for (const std::filesystem::path* file : {&shipped_file, &user_file}) {
    std::string problem;
    ApplyEndpointsFile(*file, &endpoints, &problem);
    if (!problem.empty()) *problems += (problems->empty() ? "" : "; ") + problem;
  }
  return endpoints;
}

bool SetUserEndpoint(const std::filesystem::path& user_file, std::string_view key,
                     std::string_view value, std::string* message) {
  std::string reason;
  if (!CheckEndpointValue(key, value, &reason)) {
    *message = std::string(key) + " " + reason + ", not \"" + std::string(value) + "\"";
    return false;
  }
  JsonValue root;
  if (!ReadObject(user_file, &root, message)) return false;
  if (value.empty()) {
    root.object.Erase(key);
  } else {
    root.object.Set(std::string(key), server::MakeJsonString(std::string(value)));
  }
  // One key per line, so that people can read and edit the file.
  std::string text = "{\n";
  bool first = true;
  for (const auto& [name, member] : root.object) {
    if (!first) text += ",\n";
    first = false;
    text += "  ";
    server::AppendJsonString(name, &text);
    text += ": ";
    server::AppendJson(member, &text);
  }
  text += first ? "}\n" : "\n}\n";
  std::error_code error;
  std::filesystem::create_directories(user_file.parent_path(), error);
  ReplaceFailure failure;
  if (!ReplaceFile(user_file, text, std::filesystem::perms(0600), &failure)) {
    *message = "cannot write " + user_file.string();
    return false;
  }
  message->clear();
  return true;
}

}  // namespace kavi::win
