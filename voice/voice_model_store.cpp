// SPDX-License-Identifier: Apache-2.0
#include "voice/voice_model_store.h"

#include <system_error>

#include "net/sha256.h"
#include "net/win_http_client.h"
#include "platform/directories.h"
#include "platform/file_replace.h"
#include "platform/log.h"
#include "update/file_downloader.h"

namespace kavi::win {
namespace {

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

const VoiceModelEntry* FindEntry(const std::vector<VoiceModelEntry>& models,
                                 const std::string& engine) {
  for (const VoiceModelEntry& entry : models)
    if (entry.engine == engine) return &entry;
  return nullptr;
}

}  // namespace

VoiceModelStore::VoiceModelStore(std::filesystem::path models_dir, ServiceLocator service)
    : models_dir_(std::move(models_dir)), service_(std::move(service)) {}

std::filesystem::path VoiceModelStore::ModelPath(const VoiceModelEntry& entry) const {
  return models_dir_ / entry.engine / entry.name;
}

bool VoiceModelStore::ReadLocalManifest(std::vector<VoiceModelEntry>* models,
                                        std::string* error) const {
  std::string text;
  switch (ReadRegularFile(models_dir_ / kManifestFileName, kMaxManifestBytes, &text)) {
    case ReadFileResult::kCannotOpen:
      return Fail(error, kLocalManifestMissingMessage);
    case ReadFileResult::kUnreadable:
      return Fail(error, kLocalManifestSizeMessage);
    case ReadFileResult::kRead:
      break;
  }
  if (text.empty()) return Fail(error, kLocalManifestSizeMessage);
  std::string reason;
  if (!ParseVoiceManifest(text, models, &reason)) {
    LogLine("[Kavi] " + (models_dir_ / kManifestFileName).string() + ": " + reason + "\n");
    return Fail(error, kLocalManifestFormatMessage);
  }
  return true;
}

bool VoiceModelStore::FindLocalEntry(const std::string& engine, VoiceModelEntry* entry,
                                     std::string* error) const {
  std::vector<VoiceModelEntry> models;
  if (!ReadLocalManifest(&models, error)) return false;
  const VoiceModelEntry* found = FindEntry(models, engine);
  if (!found) return Fail(error, kEngineNotInManifestMessage);
  *entry = *found;
  return true;
}

bool VoiceModelStore::Matches(const std::filesystem::path& file, const VoiceModelEntry& entry,
                              std::string* error) {
  const std::optional<FileStamp> stamp = StampFile(file);
  if (!stamp || stamp->size < 0 || static_cast<uint64_t>(stamp->size) != entry.bytes)
    return Fail(error, kModelSizeMessage);
  std::string digest;
  {
    std::lock_guard<std::mutex> lock(digests_mutex_);
    auto known = digests_.find(file);
    if (known != digests_.end() && known->second.first == *stamp) digest = known->second.second;
  }
  if (digest.empty()) {
    std::string reason;
    if (!Sha256File(file, &digest, &reason)) return Fail(error, kModelHashMessage);
    std::lock_guard<std::mutex> lock(digests_mutex_);
    digests_[file] = {*stamp, digest};
  }
  if (digest != entry.sha256) return Fail(error, kModelHashMessage);
  return true;
}

bool VoiceModelStore::Resolve(const std::string& engine, std::filesystem::path* model,
                              std::string* error) {
  VoiceModelEntry entry;
  if (!FindLocalEntry(engine, &entry, error)) return false;
  const std::filesystem::path path = ModelPath(entry);
  if (!Matches(path, entry, error)) return false;
  *model = path;
  error->clear();
  return true;
}

bool VoiceModelStore::FetchManifest(const WinHttpClient& http, const std::string& base_url,
                                    HttpCancellation* cancellation,
                                    std::vector<VoiceModelEntry>* models,
                                    std::string* error) const {
  if (base_url.empty()) return Fail(error, kManifestDownloadMessage);
  HttpRequest request;
  request.url = base_url + kVoiceModelsPath;
  request.max_response_bytes = kMaxManifestBytes;
  request.cancellation = cancellation;
  HttpResponse response;
  HttpError http_error;
  if (!http.Send(request, &response, &http_error) || response.status != 200) {
    LogLine("[Kavi] " + request.url + ": " +
            (response.status != 0 ? "HTTP " + std::to_string(response.status)
                                  : http_error.stage + " " + std::to_string(http_error.code)) +
            "\n");
    return Fail(error, kManifestDownloadMessage);
  }
  std::string reason;
  if (!ParseVoiceManifest(response.body, models, &reason)) {
    LogLine("[Kavi] " + request.url + ": " + reason + "\n");
    return Fail(error, kManifestUnusableMessage);
  }
  ReplaceFailure failure;
  if (!ReplaceFile(models_dir_ / kManifestFileName, response.body, kPrivateFileMode, &failure))
    return Fail(error, kModelsDirectoryMessage);
  return true;
}

bool VoiceModelStore::Download(const std::string& engine, const std::atomic<uint8_t>* cancel,
                               HttpCancellation* cancellation, const Progress& progress,
                               std::string* error) {
  std::string ignored;
  if (!CreateDirectories(models_dir_, kPrivateDirectoryMode, &ignored))
    return Fail(error, kModelsDirectoryMessage);
  const ServiceEndpoints endpoints = service_ ? service_() : ServiceEndpoints{};
  HttpClientOptions options;
  options.extra_ca_bundle = endpoints.extra_ca_bundle;
  const WinHttpClient http(options);
  std::vector<VoiceModelEntry> models;
  if (!FetchManifest(http, endpoints.service_base_url, cancellation, &models, error)) return false;
  const VoiceModelEntry* entry = FindEntry(models, engine);
  if (!entry) return Fail(error, kEngineNotInManifestMessage);
  const std::filesystem::path target = ModelPath(*entry);
  std::string reason;
  if (Matches(target, *entry, &reason)) {
    if (progress) progress(entry->bytes, entry->bytes);
    error->clear();
    return true;
  }
  if (!CreateDirectories(target.parent_path(), kPrivateDirectoryMode, &ignored))
    return Fail(error, kModelsDirectoryMessage);
  DownloadRequest request;
  request.url = entry->url;
  request.target = target;
  request.expected_size = entry->bytes;
  request.expected_sha256 = entry->sha256;
  request.cancel_flag = cancel;
  request.cancellation = cancellation;
  request.progress = progress;
  if (!FileDownloader(http).Download(request, error)) return false;
  // A model the manifest no longer names is dead weight.
  std::error_code ec;
  for (const auto& file : std::filesystem::directory_iterator(target.parent_path(), ec))
    if (file.path() != target) std::filesystem::remove(file.path(), ec);
  error->clear();
  return true;
}

bool VoiceModelStore::Remove(const std::string& engine, std::string* error) {
  std::error_code ec;
  std::filesystem::remove_all(models_dir_ / engine, ec);
  if (ec) return Fail(error, ec.message());
  error->clear();
  return true;
}

bool VoiceModelStore::RemovePartial(const std::string& engine, std::string* error) {
  VoiceModelEntry entry;
  if (!FindLocalEntry(engine, &entry, error)) return false;
  std::error_code ec;
  std::filesystem::remove(ModelPath(entry).string() + kPartSuffix, ec);
  if (ec) return Fail(error, ec.message());
  error->clear();
  return true;
}

}  // namespace kavi::win
