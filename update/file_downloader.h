// SPDX-License-Identifier: Apache-2.0
// The resumable, verified download of one large file: a lock file beside the target keeps two
// threads or processes from downloading it at once, a ".part" file grows chunk by chunk and is
// resumed with a Range request, and only a file of the expected size and SHA-256 is moved onto
// the target. Used for installers, voice models and other large files.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "net/http_cancellation.h"
#include "net/win_http_client.h"

namespace kavi::win {

inline constexpr char kDownloadInvalidMessage[] = "下載參數無效";
inline constexpr char kDownloadUrlMessage[] = "下載 URL 無效";
inline constexpr char kDownloadDirectoryMessage[] = "無法建立下載目錄";
inline constexpr char kDownloadCancelledMessage[] = "下載已取消";
inline constexpr char kDownloadLockTimeoutMessage[] = "等待另一個下載作業逾時";
inline constexpr char kDownloadLockMessage[] = "無法建立下載互斥鎖";
inline constexpr char kDownloadSessionMessage[] = "無法初始化文件下載";
inline constexpr char kDownloadRequestFailedMessage[] = "文件下載請求失敗";
inline constexpr char kDownloadStatusMessage[] = "下載服務返回 HTTP ";
inline constexpr char kDownloadUnexpectedPartMessage[] = "下載服務返回意外的部分內容";
inline constexpr char kDownloadPartFileMessage[] = "無法建立下載暫存文件";
inline constexpr char kDownloadWriteMessage[] = "文件下載或寫入失敗";
inline constexpr char kDownloadIncompleteMessage[] = "文件下載長度不完整";
inline constexpr char kDownloadHashMessage[] = "下載文件 SHA-256 不匹配";
inline constexpr char kDownloadInstallMessage[] = "無法原子安裝下載文件";

inline constexpr char kPartSuffix[] = ".part";
inline constexpr char kLockSuffix[] = ".lock";
inline constexpr size_t kDownloadChunkBytes = 1048576;  // 1 MiB
inline constexpr uint32_t kDownloadLockPollMs = 100;
inline constexpr uint32_t kDownloadLockGiveUpMs = 600000;  // ten minutes

struct DownloadRequest {
  std::string url;  // https
  std::filesystem::path target;
  uint64_t expected_size = 0;   // 1 to 2^63-1
  std::string expected_sha256;  // 64 hexadecimal digits
  // Either stops the download: a non-zero flag, or a cancelled token.
  const std::atomic<uint8_t>* cancel_flag = nullptr;
  HttpCancellation* cancellation = nullptr;
  // Bytes on disk so far and the expected size, after each chunk (may be empty). Called on the
  // thread that writes the chunks, not on the caller's.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

class FileDownloader {
 public:
  // The client must outlive the downloader.
  explicit FileDownloader(const WinHttpClient& client) : client_(client) {}

  // Blocks until the target holds the verified file (true) or the download failed (false with
  // one of the messages above). A failure keeps the partial file for the next attempt, except
  // after a hash mismatch (deleted) and a server that ignored the range (restarted).
  bool Download(const DownloadRequest& request, std::string* message) const;

 private:
  const WinHttpClient& client_;
};

}  // namespace kavi::win
