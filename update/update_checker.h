// SPDX-License-Identifier: Apache-2.0
// Keeps the installed program current: once a day it reads the update feed, and when the feed
// announces a newer version for this machine it downloads the Debian package with its detached
// signature, checks the hash, the signer and the package's own control file against the feed,
// and records the package as pending ("available.txt"). It never installs: the user does, from
// the settings application. Files in the updates folder:
//
//   last-check        "checked\n"; only its modification time counts
//   available.txt     version, build number, SHA-256 and package path, one per CR LF line
//   kavi_0.6.0-3_amd64.deb, .deb.p7s   the pending package and its signature
//   *.part, *.lock    the downloader's companions while a download runs or waits to resume
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/http_cancellation.h"
#include "net/http_types.h"
#include "update/file_downloader.h"
#include "update/update_feed.h"

namespace kavi::win {

inline constexpr char kUpdateFeedPath[] = "/release/linux/ver.dat";
inline constexpr char kLastCheckFileName[] = "last-check";
inline constexpr char kLastCheckContent[] = "checked\n";
inline constexpr char kAvailableFileName[] = "available.txt";
inline constexpr char kUpdatePackageName[] = "kavi";
inline constexpr char kUpdateSignerName[] = "Norvale Inc.";
inline constexpr uint64_t kMaxUpdateSignatureBytes = 1 << 20;
inline constexpr std::chrono::hours kUpdateCheckInterval{24};
inline constexpr std::chrono::hours kUpdateRetryInterval{1};

inline constexpr char kUpdateFeedDownloadMessage[] = "無法下載更新清單";
inline constexpr char kUpdateFeedInvalidMessage[] = "更新清單格式無效";
inline constexpr char kUpdateNoArchitectureMessage[] = "更新缺少本機架構";
inline constexpr char kUpdateDirectoryMessage[] = "無法建立更新目錄";
inline constexpr char kUpdateSignatureDownloadMessage[] = "無法下載更新包簽名";
inline constexpr char kUpdateHashMessage[] = "更新包 SHA-256 與待安裝狀態不一致";
inline constexpr char kUpdateSignerUnreadableMessage[] = "無法讀取 Authenticode 簽署者";
inline constexpr char kUpdateSignerNameMessage[] = "Authenticode 主體不是 Norvale Inc.";
inline constexpr char kUpdateSignatureChainMessage[] = "更新包 Authenticode 簽名鏈驗證失敗：";
inline constexpr char kUpdateNoVersionMessage[] = "更新包缺少版本資源";
inline constexpr char kUpdateVersionUnreadableMessage[] = "無法讀取更新包版本資源";
inline constexpr char kUpdateVersionInvalidMessage[] = "更新包版本資源無效";
inline constexpr char kUpdateVersionMismatchMessage[] = "更新包版本與更新清單不一致";
inline constexpr char kUpdateIdentityMessage[] = "更新包產品身份不是霜楓安裝器";
inline constexpr char kUpdateLastCheckLog[] = "[Kavi] 無法保存自動更新檢查時間\n";
inline constexpr char kUpdateStagedLog[] = "[Kavi] 新版已下載，等待使用者確認安裝\n";
inline constexpr char kUpdateRecordLog[] = "[Kavi] 無法保存待安裝更新，稍後重試\n";
inline constexpr char kUpdateFailedLog[] = "[Kavi] 自動檢查更新失敗\n";

struct UpdateResult {
  enum class Outcome { kUpToDate = 0, kStaged = 1, kFailed = 2 };
  Outcome outcome = Outcome::kFailed;
  std::string message;
  std::string version;  // "0.6.0"
  uint32_t build_number = 0;
  std::string sha256;
  std::filesystem::path installer;
};

// The pending update that "available.txt" records.
struct PendingUpdate {
  std::string version;
  uint32_t build_number = 0;
  std::string sha256;
  std::filesystem::path installer;
};
bool ReadPendingUpdate(const std::filesystem::path& updates_dir, PendingUpdate* pending);
bool WritePendingUpdate(const std::filesystem::path& updates_dir, const PendingUpdate& pending);

struct UpdateCheckerOptions {
  std::filesystem::path updates_dir;
  std::vector<uint32_t> running_version;
  uint32_t running_build = 0;
  bool enabled = true;
  std::string architecture;  // "x64" or "arm64"; empty: this machine's
  // The service base URL ("https://host:port"); empty when none is configured.
  std::function<std::string()> base_url;
  std::function<bool(const HttpRequest&, HttpResponse*, HttpError*)> send;
  std::function<bool(const DownloadRequest&, std::string* message)> download;
  std::vector<std::filesystem::path> trust_anchors;
  std::function<std::chrono::system_clock::time_point()> now;  // empty: the system clock
  std::function<void(const UpdateResult&)> notify;
  HttpCancellation* cancellation = nullptr;
};

class UpdateChecker {
 public:
  explicit UpdateChecker(UpdateCheckerOptions options);
  ~UpdateChecker();
  UpdateChecker(const UpdateChecker&) = delete;
  UpdateChecker& operator=(const UpdateChecker&) = delete;

  // One check: feed, comparison, download, verification. Writes nothing but the download.
  UpdateResult CheckOnce();
  // Whether a check is due: enabled, and "last-check" missing or at least a day old.
  bool Due();
  // The scheduler's step: when due, one check, then "last-check" and "available.txt" as its
  // outcome says, the log line and the notice. True when a check ran.
  bool RunIfDue(UpdateResult* result = nullptr);

  // The thread that runs RunIfDue every hour (at once after Wake) until Stop.
  void Start();
  void Stop();
  void Wake();

 private:
  std::chrono::system_clock::time_point Now() const;
  bool Verify(const UpdateFeed& feed, const UpdateArtifact& artifact,
              const std::filesystem::path& installer, std::string* message);
  bool FetchSignature(const UpdateArtifact& artifact, const std::filesystem::path& installer,
                      std::string* message);
  bool TouchLastCheck();
  void RemoveStaleDownloads(const std::string& keep_file);
  void Loop();

  const UpdateCheckerOptions options_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool woken_ = false;
  std::thread thread_;
};

}  // namespace kavi::win
