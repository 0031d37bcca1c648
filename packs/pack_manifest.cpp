// SPDX-License-Identifier: Apache-2.0
#include "packs/pack_manifest.h"

#include <set>

#include "config/json.h"
#include "text/safe_file_name.h"

namespace kavi::win {
namespace {

using server::FindJsonMember;
using server::GetJsonInt64;
using server::GetJsonString;

bool Fail(std::string* error, const char* text) {
  if (error != nullptr) *error = text;
  return false;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool ValidUrl(std::string_view url) {
  if (url.size() < kMinPackFileUrlBytes || url.size() > kMaxPackFileUrlBytes) return false;
  if (!url.starts_with("https://")) return false;
  for (char c : url)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) return false;
  return true;
}

// Reads a 64-digit digest, folding A-F to lower case; false when it is anything else.
bool ReadDigest(std::string text, std::string* digest) {
  if (text.size() != 64) return false;
  for (char& c : text) {
    if (!IsHexDigit(c)) return false;
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  *digest = std::move(text);
  return true;
}

// One file entry; false when it lacks a member or breaks a rule. Pack files carry the pack id
// and a dot in front of their names: removal finds them that way, and no pack can overwrite
// another pack's files.
bool ReadFile(const JsonValue& entry, const std::string& pack_id, PackFile* file) {
  if (!entry.is_object()) return false;
  std::string name, url, sha256;
  int64_t bytes = 0;
  if (!GetJsonString(entry, "name", &name) || !GetJsonString(entry, "url", &url) ||
      !GetJsonString(entry, "sha256", &sha256) || !GetJsonInt64(entry, "bytes", &bytes))
    return false;
  if (!IsSafeFileName(name) || !name.starts_with(pack_id + ".")) return false;
  if (!ValidUrl(url) || !ReadDigest(std::move(sha256), &file->sha256)) return false;
  if (bytes < 1 || static_cast<uint64_t>(bytes) > kMaxPackFileBytes) return false;
  file->name = std::move(name);
  file->url = std::move(url);
  file->bytes = static_cast<uint64_t>(bytes);
  return true;
}

bool ReadPack(const JsonValue& entry, std::set<std::string>* ids, PackRecord* pack,
              std::string* error) {
  if (!entry.is_object() || !GetJsonString(entry, "id", &pack->id) || !IsValidPackId(pack->id) ||
      !ids->insert(pack->id).second)
    return Fail(error, kManifestInvalidPackId);
  GetJsonString(entry, "displayName", &pack->display_name);
  const JsonValue* files = FindJsonMember(entry, "files");
  if (files == nullptr || !files->is_array() || files->array.empty() ||
      files->array.size() > kMaxPackFiles)
    return Fail(error, kManifestInvalidPackFiles);
  std::set<std::string> names;
  for (const JsonValue& file_entry : files->array) {
    PackFile file;
    if (!ReadFile(file_entry, pack->id, &file) || !names.insert(file.name).second)
      return Fail(error, kManifestInvalidPackFile);
    pack->files.push_back(std::move(file));
  }
  return true;
}

}  // namespace

bool IsValidPackId(std::string_view id) {
  if (id.empty() || id.size() > kMaxPackIdBytes) return false;
  for (char c : id)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

bool ParsePackManifest(std::string_view text, std::vector<PackRecord>* packs, std::string* error) {
  if (packs == nullptr) return Fail(error, kManifestMissingOutput);
  JsonValue root;
  if (!server::ParseJson(text, &root, nullptr) || !root.is_object())
    return Fail(error, kManifestInvalidRoot);
  std::string res;
  if (GetJsonString(root, "_res", &res) && res != "ok") return Fail(error, kManifestNotOk);
  const JsonValue* list = FindJsonMember(root, "packs");
  if (list == nullptr || !list->is_array() || list->array.size() > kMaxPacks)
    return Fail(error, kManifestInvalidPackList);
  std::vector<PackRecord> parsed;
  std::set<std::string> ids;
  for (const JsonValue& entry : list->array) {
    PackRecord pack;
    if (!ReadPack(entry, &ids, &pack, error)) return false;
    parsed.push_back(std::move(pack));
  }
  *packs = std::move(parsed);
  if (error != nullptr) error->clear();
  return true;
}

}  // namespace kavi::win
