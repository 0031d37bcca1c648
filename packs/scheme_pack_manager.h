// SPDX-License-Identifier: Apache-2.0
// Installs and removes the scheme packs that the service publishes: fetches the manifest,
// downloads every file of one pack, checks its size and SHA-256, and commits the files into
// the pack directory as one transaction (pack_transaction.h). Removal deletes every file of a
// pack. Installs and removals are serialised; the engine restart that makes the engine see the
// new file set is the job's (scheme_pack_jobs.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "net/http_cancellation.h"
#include "net/http_types.h"
#include "packs/pack_manifest.h"

namespace kavi::win {

inline constexpr char kPackManifestPath[] = "/packs/scheme?platform=windows&arch=x64";
inline constexpr uint32_t kPackManifestTimeoutMs = 15000;
inline constexpr uint64_t kPackManifestMaxBytes = 0x400000;  // 4 MiB
inline constexpr uint32_t kPackFileTimeoutMs = 120000;
inline constexpr char kSchemeFileSuffixOfPacks[] = ".schema.yaml";

inline constexpr char kPackNotReadyMessage[] = "方案包管理器未初始化";
inline constexpr char kPackNetworkMessage[] = "方案包網絡失敗：";
inline constexpr char kPackManifestStatusMessage[] = "方案包清單 HTTP ";
inline constexpr char kPackManifestInvalidMessage[] = "方案包清單無效：";
inline constexpr char kPackIdInvalidMessage[] = "方案 ID 無效";
inline constexpr char kPackNotListedMessage[] = "方案暫未上架";
inline constexpr char kPackDirectoryMessage[] = "無法建立方案目錄";
inline constexpr char kPackStagingMessage[] = "無法建立方案暫存目錄";
inline constexpr char kPackFileStatusMessage[] = "方案文件大小或 HTTP 狀態無效";
inline constexpr char kPackFileHashMessage[] = "方案文件 SHA-256 不匹配";
inline constexpr char kPackReadDirectoryMessage[] = "讀取方案目錄失敗";
inline constexpr char kPackFileStatMessage[] = "讀取方案文件狀態失敗";
inline constexpr char kPackDeleteMessage[] = "刪除方案文件失敗";
inline constexpr char kPackEnumerateMessage[] = "枚舉方案目錄失敗";

// Where an install spent its time, for the benchmark and the log.
struct PackInstallTimings {
  uint64_t manifest_ns = 0;
  uint64_t download_ns = 0;
  uint64_t verify_ns = 0;
  uint64_t commit_ns = 0;  // the staged writes, the journal commit and the marker
};

class SchemePackManager {
 public:
  // Sends one request (the process's HTTPS client); true when an exchange completed.
  using HttpSend = std::function<bool(const HttpRequest&, HttpResponse*, HttpError*)>;
  // The service base URL ("https://host:port", no trailing slash); empty when not configured.
  using BaseUrl = std::function<std::string()>;
  // Called with the pack id after a successful install, outside the manager's lock.
  using Installed = std::function<void(const std::string& pack_id)>;

  SchemePackManager(std::filesystem::path pack_dir, HttpSend send, BaseUrl base_url,
                    Installed installed);

  // Downloads, verifies and commits the pack; true on success, else false with a message for the
  // user. The pack directory changes only once every file has been verified, and a failure
  // after that puts it back.
  bool Install(const std::string& id, std::string* message, HttpCancellation* cancellation,
               PackInstallTimings* timings = nullptr);
  // Deletes every file of the pack (also true when there is no pack directory).
  bool Remove(const std::string& id, std::string* message);
  // The published packs; `packs` is replaced only on success.
  bool FetchManifest(std::vector<PackRecord>* packs, std::string* message,
                     HttpCancellation* cancellation);

  // Whether the scheme "<id>.schema.yaml" lies in the pack directory and its pack (the id up to
  // its first '.') is complete.
  bool IsInstalled(const std::string& scheme_id) const;
  const std::filesystem::path& pack_dir() const { return pack_dir_; }

 private:
  bool InstallLocked(const std::string& id, std::string* message, HttpCancellation* cancellation,
                     PackInstallTimings* timings);
  bool DownloadAndStage(const PackRecord& pack, const std::filesystem::path& staging,
                        std::string* message, HttpCancellation* cancellation,
                        PackInstallTimings* timings);

  const std::filesystem::path pack_dir_;
  const HttpSend send_;
  const BaseUrl base_url_;
  const Installed installed_;
  std::mutex mutex_;
};

// "方案包網絡失敗：" with the failed step and its code, and the client's own text in
// full-width parentheses when it has one.
std::string PackNetworkMessage(const HttpError& error);

}  // namespace kavi::win
