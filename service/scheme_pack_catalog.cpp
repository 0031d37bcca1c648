// SPDX-License-Identifier: Apache-2.0
#include "service/scheme_pack_catalog.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "config/json.h"
#include "net/sha256.h"
#include "platform/file_read.h"

namespace kavi::service {
namespace {

namespace fs = std::filesystem;
using win::JsonValue;
constexpr uintmax_t kMaxDescriptionBytes = 1 << 16;

bool IsPackFolderName(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

// The display name and file order of a pack folder; false when pack.json is there but broken.
bool ReadDescription(const fs::path& folder, std::string* display_name,
                     std::vector<std::string>* files, std::string* error) {
  std::string text;
  const fs::path description = folder / kPackDescriptionName;
  switch (win::ReadRegularFile(description, kMaxDescriptionBytes, &text)) {
    case win::ReadFileResult::kCannotOpen:
      return true;
    case win::ReadFileResult::kUnreadable:
      *error = "cannot read " + description.string();
      return false;
    case win::ReadFileResult::kRead:
      break;
  }
  JsonValue root;
  if (!win::server::ParseJson(text, &root, error) || !root.is_object()) {
    *error = description.string() + ": not a JSON object";
    return false;
  }
  win::server::GetJsonString(root, "displayName", display_name);
  if (const JsonValue* list = win::server::FindJsonMember(root, "files")) {
    if (!list->is_array()) {
      *error = description.string() + ": \"files\" must be an array of names";
      return false;
    }
    for (const JsonValue& name : list->array) {
      if (!name.is_string() || name.string.empty()) {
        *error = description.string() + ": \"files\" must be an array of names";
        return false;
      }
      files->emplace_back(name.string.view());
    }
  }
  return true;
}

std::vector<std::string> SortedNames(const fs::path& folder, bool directories) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    const bool wanted = directories ? it->is_directory(type_error) : it->is_regular_file(type_error);
    if (wanted) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::string OriginFromHost(std::string_view host) {
  if (host.empty() || host.size() > 255) return {};
  for (char c : host) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' || c == '[' ||
                         c == ']';
    if (!allowed) return {};
  }
  return "https://" + std::string(host);
}

SchemePackCatalog::SchemePackCatalog(fs::path directory) : directory_(std::move(directory)) {}

bool SchemePackCatalog::Sha256Of(const fs::path& file, uintmax_t* size, std::string* sha256,
                                 std::string* error) {
  std::error_code fs_error;
  *size = fs::file_size(file, fs_error);
  const fs::file_time_type modified = fs::last_write_time(file, fs_error);
  if (fs_error) {
    *error = "cannot read " + file.string();
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto cached = digests_.find(file);
    if (cached != digests_.end() && cached->second.size == *size &&
        cached->second.modified == modified) {
      *sha256 = cached->second.sha256;
      return true;
    }
  }
  if (!win::Sha256File(file, sha256, error)) return false;
  std::lock_guard<std::mutex> hold(mutex_);
  digests_[file] = {*size, modified, *sha256};
  return true;
}

bool SchemePackCatalog::Manifest(std::string_view base_url, std::string* json,
                                 std::string* error) {
  std::string out = "{\"_res\":\"ok\",\"packs\":[";
  bool first_pack = true;
  for (const std::string& id : SortedNames(directory_, true)) {
    if (!IsPackFolderName(id)) continue;
    const fs::path folder = directory_ / id;
    std::string display_name;
    std::vector<std::string> files;
    if (!ReadDescription(folder, &display_name, &files, error)) return false;
    if (files.empty()) {
      for (std::string& name : SortedNames(folder, false))
        if (name != kPackDescriptionName) files.push_back(std::move(name));
    }
    out += first_pack ? "{" : ",{";
    first_pack = false;
    out += "\"id\":";
    win::server::AppendJsonString(id, &out);
    out += ",\"displayName\":";
    win::server::AppendJsonString(display_name, &out);
    out += ",\"files\":[";
    for (size_t i = 0; i < files.size(); ++i) {
      uintmax_t size = 0;
      std::string sha256;
      if (!Sha256Of(folder / files[i], &size, &sha256, error)) return false;
      out += i == 0 ? "{" : ",{";
      out += "\"name\":";
      win::server::AppendJsonString(files[i], &out);
      out += ",\"url\":";
      win::server::AppendJsonString(
          std::string(base_url) + kSchemePacksPath + "/" + id + "/" + files[i], &out);
      out += ",\"sha256\":\"" + sha256 + "\",\"bytes\":" + std::to_string(size) + "}";
    }
    out += "]}";
  }
  out += "]}";
  *json = std::move(out);
  return true;
}

}  // namespace kavi::service
