// SPDX-License-Identifier: Apache-2.0
#include "update/update_feed.h"

#include <algorithm>

#include "config/json.h"

namespace kavi::win {
namespace {

using server::FindJsonMember;
using server::GetJsonInt64;
using server::GetJsonString;

constexpr uint32_t kVersionSaturation = 1000000;
constexpr size_t kFeedVersionComponents = 3;

bool Fail(std::string* error, const char* text) {
  if (error != nullptr) *error = text;
  return false;
}

bool IsHexDigest(std::string* text) {
  if (text->size() != 64) return false;
  for (char& c : *text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool ReadArtifact(const JsonValue& entry, UpdateArtifact* artifact) {
  if (!entry.is_object()) return false;
  int64_t bytes = 0;
  if (!GetJsonString(entry, "architecture", &artifact->architecture) ||
      !GetJsonString(entry, "file", &artifact->file) || !GetJsonString(entry, "url", &artifact->url) ||
      !GetJsonString(entry, "sha256", &artifact->sha256) || !GetJsonInt64(entry, "bytes", &bytes))
    return false;
  if (artifact->architecture != kArchitectureX64 && artifact->architecture != kArchitectureArm64)
    return false;
  if (artifact->file.empty() || artifact->file.find_first_of("/\\") != std::string::npos)
    return false;
  // The file name is used in the updates folder: no "." or ".." either.
  if (artifact->file == "." || artifact->file == "..") return false;
  if (!artifact->url.starts_with("https://") || !IsHexDigest(&artifact->sha256)) return false;
  if (bytes < 1) return false;
  artifact->bytes = static_cast<uint64_t>(bytes);
  return true;
}

}  // namespace

bool ParseVersion(std::string_view text, std::vector<uint32_t>* components) {
  std::vector<uint32_t> parsed;
  uint32_t current = 0;
  bool digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      current = std::min<uint32_t>(current * 10 + static_cast<uint32_t>(c - '0'), kVersionSaturation);
      digit = true;
    } else if (c == '.' && digit) {
      parsed.push_back(current);
      current = 0;
      digit = false;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  parsed.push_back(current);
  *components = std::move(parsed);
  return true;
}

bool ParseUpdateFeed(std::string_view text, UpdateFeed* feed, std::string* error) {
  if (text.empty() || text.size() > kMaxUpdateFeedBytes) return Fail(error, kFeedEmpty);
  JsonValue root;
  if (!server::ParseJson(text, &root, nullptr) || !root.is_object())
    return Fail(error, kFeedInvalidRoot);
  UpdateFeed parsed;
  std::string version;
  if (!GetJsonString(root, "version", &version) || !ParseVersion(version, &parsed.version) ||
      parsed.version.size() != kFeedVersionComponents ||
      std::any_of(parsed.version.begin(), parsed.version.end(),
                  [](uint32_t part) { return part > kMaxVersionComponent; }))
    return Fail(error, kFeedInvalidVersion);
  int64_t build = 0;
  if (!GetJsonInt64(root, "buildNumber", &build) || build < 0 || build > kMaxVersionComponent)
    return Fail(error, kFeedInvalidBuild);
  parsed.build_number = static_cast<uint32_t>(build);
  const JsonValue* list = FindJsonMember(root, "artifacts");
  if (list == nullptr || !list->is_array() || list->array.empty() ||
      list->array.size() > kMaxUpdateArtifacts)
    return Fail(error, kFeedInvalidArtifacts);
  for (const JsonValue& entry : list->array) {
    UpdateArtifact artifact;
    if (!ReadArtifact(entry, &artifact)) return Fail(error, kFeedInvalidArtifact);
    parsed.artifacts.push_back(std::move(artifact));
  }
  *feed = std::move(parsed);
  if (error != nullptr) error->clear();
  return true;
}

bool IsNewerVersion(const std::vector<uint32_t>& feed_version, uint32_t feed_build,
                    const std::vector<uint32_t>& running_version, uint32_t running_build) {
  const size_t count = std::max(feed_version.size(), running_version.size());
  for (size_t i = 0; i < count; ++i) {
    const uint32_t feed = i < feed_version.size() ? feed_version[i] : 0;
    const uint32_t running = i < running_version.size() ? running_version[i] : 0;
    if (feed != running) return feed > running;
  }
  return feed_build > running_build;
}

const UpdateArtifact* FindArtifact(const UpdateFeed& feed, std::string_view architecture) {
  for (const UpdateArtifact& artifact : feed.artifacts)
    if (artifact.architecture == architecture) return &artifact;
  return nullptr;
}

std::string_view NativeArchitecture() {
#if defined(__aarch64__)
  return kArchitectureArm64;
#else
  return kArchitectureX64;
#endif
}

std::string_view DebianArchitecture(std::string_view feed_architecture) {
  if (feed_architecture == kArchitectureX64) return "amd64";
  if (feed_architecture == kArchitectureArm64) return "arm64";
  return {};
}

}  // namespace kavi::win
