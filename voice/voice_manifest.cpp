// SPDX-License-Identifier: Apache-2.0
#include "voice/voice_manifest.h"

#include <algorithm>
#include <cmath>

#include "config/json.h"

namespace kavi::win {
namespace {

using server::FindJsonMember;

// Engines that exist only for other platforms' runtimes: skipped, not refused.
constexpr char kForeignEngine[] = "qwenMLX";
constexpr char kModelSuffix[] = ".gguf";
constexpr size_t kMinUrlBytes = 9;
constexpr size_t kMaxUrlBytes = 4096;
constexpr char kHttpsPrefix[] = "https://";

bool Fail(std::string* error, const char* message) {
  *error = message;
  return false;
}

bool StringMember(const JsonValue& object, std::string_view key, std::string* out) {
  const JsonValue* value = FindJsonMember(object, key);
  if (!value || !value->is_string()) return false;
  out->assign(value->string.view());
  return true;
}

// A plain file name: the store puts it in a folder of its own and it must stay there.
bool IsSafeFileName(std::string_view name) {
  if (name.size() <= std::string_view(kModelSuffix).size() || !name.ends_with(kModelSuffix) ||
      name.front() == '.')
    return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

bool IsUrl(std::string_view url) {
  if (url.size() < kMinUrlBytes || url.size() > kMaxUrlBytes || !url.starts_with(kHttpsPrefix))
    return false;
  return std::all_of(url.begin(), url.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool IsSha256(std::string* hex) {
  if (hex->size() != 64) return false;
  for (char& c : *hex) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool ParseFile(const JsonValue& file, VoiceModelEntry* entry) {
  if (!file.is_object() || !StringMember(file, "name", &entry->name) ||
      !StringMember(file, "url", &entry->url) || !StringMember(file, "sha256", &entry->sha256))
    return false;
  const JsonValue* bytes = FindJsonMember(file, "bytes");
  if (!bytes || !bytes->is_number() || bytes->number < 1 ||
      bytes->number > static_cast<double>(kMaxModelBytes) ||
      bytes->number != std::floor(bytes->number))
    return false;
  entry->bytes = static_cast<uint64_t>(bytes->number);
  return IsSafeFileName(entry->name) && IsUrl(entry->url) && IsSha256(&entry->sha256);
}

}  // namespace

bool IsModelEngine(std::string_view engine) {
  return engine == kSenseVoiceEngine || engine == kQwenEngine;
}

bool ParseVoiceManifest(std::string_view json, std::vector<VoiceModelEntry>* models,
                        std::string* error) {
  models->clear();
  JsonValue root;
  if (!server::ParseJson(json, &root, nullptr) || !root.is_object())
    return Fail(error, kManifestRootMessage);
  if (const JsonValue* res = FindJsonMember(root, "_res")) {
    if (!res->is_string() || res->string.view() != "ok") return Fail(error, kManifestNotOkMessage);
  }
  const JsonValue* list = FindJsonMember(root, "models");
  if (!list || !list->is_array() || list->array.size() > kMaxManifestModels)
    return Fail(error, kManifestModelListMessage);
  for (const JsonValue& model : list->array) {
    if (!model.is_object()) return Fail(error, kManifestModelMessage);
    std::string engine;
    if (!StringMember(model, "engine", &engine)) return Fail(error, kManifestEngineMessage);
    if (engine == kForeignEngine) continue;
    const bool repeated = std::any_of(models->begin(), models->end(),
                                      [&](const VoiceModelEntry& m) { return m.engine == engine; });
    if (!IsModelEngine(engine) || repeated) return Fail(error, kManifestEngineMessage);
    const JsonValue* files = FindJsonMember(model, "files");
    if (!files || !files->is_array()) return Fail(error, kManifestModelMessage);
    if (files->array.size() != 1) return Fail(error, kManifestOneFileMessage);
    VoiceModelEntry entry;
    entry.engine = engine;
    const JsonValue& file = *files->array.begin();
    std::string name;
    if (file.is_object() && StringMember(file, "name", &name) && !name.ends_with(kModelSuffix))
      return Fail(error, kManifestOneFileMessage);
    if (!ParseFile(file, &entry)) return Fail(error, kManifestFileMessage);
    models->push_back(std::move(entry));
  }
  if (models->empty()) return Fail(error, kManifestNoModelsMessage);
  error->clear();
  return true;
}

}  // namespace kavi::win
