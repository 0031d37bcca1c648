// SPDX-License-Identifier: Apache-2.0
// The recogniser models on disk: the manifest fetched from the service (kept as
// "manifest.json"), and each engine's model file in a folder named after the engine. A model
// counts only with the manifest's size and SHA-256; downloads resume through the verified
// downloader and leave a ".part" file while they run.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "net/http_cancellation.h"
#include "net/win_http_client.h"
#include "net/service_endpoints.h"
#include "platform/file_read.h"
#include "voice/voice_manifest.h"

namespace kavi::win {

inline constexpr char kManifestDownloadMessage[] = "無法下載語音模型清單";
inline constexpr char kManifestUnusableMessage[] = "語音模型清單格式無效";
inline constexpr char kEngineNotInManifestMessage[] = "本地清單缺少所選語音引擎";
inline constexpr char kModelSizeMessage[] = "語音模型缺失或大小不符";
inline constexpr char kModelHashMessage[] = "語音模型運行時 SHA-256 校驗失敗";
inline constexpr char kLocalManifestMissingMessage[] = "本地語音模型清單不存在";
inline constexpr char kLocalManifestSizeMessage[] = "本地語音模型清單大小無效";
inline constexpr char kLocalManifestFormatMessage[] = "本地語音模型清單格式無效";
inline constexpr char kModelsDirectoryMessage[] = "無法建立語音模型目錄";

inline constexpr char kManifestFileName[] = "manifest.json";
inline constexpr char kVoiceModelsPath[] = "/voice/models";
inline constexpr uint64_t kMaxManifestBytes = 1 << 20;

// Where the service is, read when it is needed (a changed setting applies at the next use).
using ServiceLocator = std::function<ServiceEndpoints()>;

class VoiceModelStore {
 public:
  using Progress = std::function<void(uint64_t done, uint64_t total)>;

  VoiceModelStore(std::filesystem::path models_dir, ServiceLocator service);

  // The installed model file of `engine`, checked against the kept manifest's size and SHA-256.
  bool Resolve(const std::string& engine, std::filesystem::path* model, std::string* error);
  // Fetches the manifest, keeps it, and downloads the engine's model unless it is already
  // there whole. Either a non-zero `cancel` or a cancelled `cancellation` stops it.
  bool Download(const std::string& engine, const std::atomic<uint8_t>* cancel,
                HttpCancellation* cancellation, const Progress& progress, std::string* error);
  // Removes the engine's model (and what a download left of it).
  bool Remove(const std::string& engine, std::string* error);
  // Removes only what an interrupted download left.
  bool RemovePartial(const std::string& engine, std::string* error);

 private:
  bool ReadLocalManifest(std::vector<VoiceModelEntry>* models, std::string* error) const;
  bool FindLocalEntry(const std::string& engine, VoiceModelEntry* entry, std::string* error) const;
  // Fetches, checks and keeps the service's manifest.
  bool FetchManifest(const WinHttpClient& http, const std::string& base_url,
                     HttpCancellation* cancellation, std::vector<VoiceModelEntry>* models,
                     std::string* error) const;
  std::filesystem::path ModelPath(const VoiceModelEntry& entry) const;
  // Whether the file has the entry's size and SHA-256. The digest of an unchanged file (same
  // stamp) is remembered, so that a large model is hashed once, not at every recording.
  bool Matches(const std::filesystem::path& file, const VoiceModelEntry& entry,
               std::string* error);

  const std::filesystem::path models_dir_;
  const ServiceLocator service_;
  std::mutex digests_mutex_;
  std::map<std::filesystem::path, std::pair<FileStamp, std::string>> digests_;
};

}  // namespace kavi::win
