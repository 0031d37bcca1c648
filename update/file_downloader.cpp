// SPDX-License-Identifier: Apache-2.0
#include "update/file_downloader.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include <openssl/crypto.h>

#include "net/https_url.h"
#include "net/sha256.h"
#include "platform/download_file.h"

namespace kavi::win {
namespace {

constexpr uint64_t kMaxExpectedSize = (uint64_t{1} << 63) - 1;
constexpr uint32_t kResolveTimeoutMs = 5000;
constexpr uint32_t kConnectTimeoutMs = 5000;
constexpr uint32_t kSendTimeoutMs = 30000;
constexpr uint32_t kReceiveTimeoutMs = 300000;

bool Fail(std::string* message, std::string text) {
  *message = std::move(text);
  return false;
}

std::filesystem::path WithSuffix(const std::filesystem::path& path, const char* suffix) {
  std::filesystem::path with = path;
  with += suffix;
  return with;
}

bool IsHexDigest(const std::string& text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
         });
}

std::string LowerHex(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool Cancelled(const DownloadRequest& request) {
  return (request.cancel_flag != nullptr && request.cancel_flag->load() != 0) ||
         (request.cancellation != nullptr && request.cancellation->IsCancelled());
}

// The first byte of a "Content-Range: bytes FIRST-LAST/SIZE" header; false when absent.
bool ContentRangeStart(const std::string& raw_headers, uint64_t* first) {
  size_t at = 0;
  while ((at = raw_headers.find("\r\n", at)) != std::string::npos) {
    at += 2;
    constexpr std::string_view kName = "content-range:";
    if (raw_headers.size() - at < kName.size()) return false;
    std::string name = raw_headers.substr(at, kName.size());
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name != kName) continue;
    size_t p = raw_headers.find("bytes ", at);
    if (p == std::string::npos) return false;
    p += 6;
    uint64_t value = 0;
    bool digits = false;
    for (; p < raw_headers.size() && raw_headers[p] >= '0' && raw_headers[p] <= '9'; ++p) {
      value = value * 10 + static_cast<uint64_t>(raw_headers[p] - '0');
      digits = true;
    }
    *first = value;
    return digits;
  }
  return false;
}

// Writes the body into the partial file in chunks of at most 1 MiB, checking the cancellation
// before each chunk and the expected size after each, and hashes each chunk as it is written:
// the file is not read again to be verified (on a fast link that second pass cost a quarter of
// the download's time). A resumed download hashes the part already on disk first.
class PartSink final : public HttpBodySink {
 public:
  PartSink(const DownloadRequest& request, std::filesystem::path part, uint64_t offset)
      : request_(request), part_(std::move(part)), offset_(offset), buffer_(kDownloadChunkBytes) {}
  // The buffer held file content: wiped before it is freed.
  ~PartSink() override { OPENSSL_cleanse(buffer_.data(), buffer_.size()); }

  bool OnHeaders(uint32_t status, const std::string& raw_headers) override {
    headers_seen_ = true;
    if (status != 200 && status != 206)
      return Stop(kDownloadStatusMessage + std::to_string(status));
    if (status == 206) {
      uint64_t first = 0;
      if (offset_ == 0 || !ContentRangeStart(raw_headers, &first) || first != offset_)
        return Stop(kDownloadUnexpectedPartMessage);
    } else if (offset_ != 0) {
      // The server ignored the range: start over from the first byte.
      std::error_code ignored;
      std::filesystem::remove(part_, ignored);
      offset_ = 0;
    }
    std::string ignored;
    if (offset_ != 0) hash_.AddFilePrefix(part_, offset_, &ignored);
    if (!file_.OpenAt(part_, offset_)) return Stop(kDownloadPartFileMessage);
    opened_ = true;
    return true;
  }

  bool OnBody(const char* data, size_t size) override {
    if (Cancelled(request_)) return Stop(kDownloadCancelledMessage);
    while (size > 0) {
      const size_t take = std::min(buffer_.size() - filled_, size);
      std::copy_n(data, take, buffer_.data() + filled_);
      filled_ += take;
      data += take;
      size -= take;
      if (filled_ == buffer_.size() && !Flush()) return false;
    }
    return true;
  }

  // Writes what is buffered; false (with the message) when cancelled, too long or unwritable.
  bool Flush() {
    if (filled_ == 0) return true;
    if (Cancelled(request_)) return Stop(kDownloadCancelledMessage);
    if (offset_ + written_ + filled_ > request_.expected_size) return Stop(kDownloadWriteMessage);
    if (!file_.Append(std::string_view(buffer_.data(), filled_)))
      return Stop(kDownloadWriteMessage);
    std::string ignored;
    hash_.Add(buffer_.data(), filled_, &ignored);
    written_ += filled_;
    filled_ = 0;
    if (request_.progress) request_.progress(offset_ + written_, request_.expected_size);
    return true;
  }

  // Flushes the rest and closes the file; false (with the message) on failure.
  bool Finish() {
    if (!opened_) return true;
    const bool flushed = Flush();
    const bool closed = file_.Close();
    opened_ = false;
    if (flushed && !closed) return Stop(kDownloadWriteMessage);
    return flushed;
  }

  // The SHA-256 of the partial file as written; false when hashing failed on the way (the file
  // is then hashed from disk).
  bool Digest(std::string* hex) {
    std::string ignored;
    return hash_.Finish(hex, &ignored);
  }
  bool headers_seen() const { return headers_seen_; }
  uint64_t on_disk() const { return offset_ + written_; }
  const std::string& message() const { return message_; }

 private:
  bool Stop(std::string message) {
    if (message_.empty()) message_ = std::move(message);
    return false;
  }

  const DownloadRequest& request_;
  const std::filesystem::path part_;
  uint64_t offset_;
  uint64_t written_ = 0;
  std::vector<char> buffer_;
  size_t filled_ = 0;
  PartFile file_;
  Sha256Hasher hash_;
  bool opened_ = false;
  bool headers_seen_ = false;
  std::string message_;
};

// Waits for the download lock; "" when taken, else the failure message.
std::string TakeLock(const DownloadRequest& request, const std::filesystem::path& path,
                     DownloadLock* lock) {
  const auto give_up =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kDownloadLockGiveUpMs);
  for (;;) {
    switch (lock->TryLock(path)) {
      case DownloadLock::Result::kLocked:
        return {};
      case DownloadLock::Result::kFailed:
        return kDownloadLockMessage;
      case DownloadLock::Result::kBusy:
        break;
    }
    if (Cancelled(request)) return kDownloadCancelledMessage;
    if (std::chrono::steady_clock::now() >= give_up) return kDownloadLockTimeoutMessage;
    std::this_thread::sleep_for(std::chrono::milliseconds(kDownloadLockPollMs));
  }
}

// `digest` is the partial file's SHA-256 when the transfer computed it, else empty.
bool VerifyAndInstall(const DownloadRequest& request, const std::filesystem::path& part,
                      std::string digest, std::string* message) {
  std::string error;
  if ((digest.empty() && !Sha256File(part, &digest, &error)) ||
      digest != LowerHex(request.expected_sha256)) {
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    return Fail(message, kDownloadHashMessage);
  }
  if (!MoveFileDurably(part, request.target)) return Fail(message, kDownloadInstallMessage);
  message->clear();
  return true;
}

}  // namespace

bool FileDownloader::Download(const DownloadRequest& request, std::string* message) const {
  // 1: the request.
  if (request.url.empty() || request.target.empty() || request.expected_size == 0 ||
      request.expected_size > kMaxExpectedSize || !IsHexDigest(request.expected_sha256))
    return Fail(message, kDownloadInvalidMessage);
  HttpsUrl url;
  HttpError url_error;
  if (!ParseHttpsUrl(request.url, &url, &url_error)) return Fail(message, kDownloadUrlMessage);

  // 2: the folder.
  std::error_code error;
  const std::filesystem::path directory = request.target.parent_path();
  if (!directory.empty()) std::filesystem::create_directories(directory, error);
  if (error) return Fail(message, kDownloadDirectoryMessage);

  // 3: one download of this target at a time, across threads and processes.
  DownloadLock lock;
  const std::string lock_failure =
      TakeLock(request, WithSuffix(request.target, kLockSuffix), &lock);
  if (!lock_failure.empty()) return Fail(message, lock_failure);

  // 4: what a previous attempt left.
  const std::filesystem::path part = WithSuffix(request.target, kPartSuffix);
  uint64_t offset = 0;
  const uintmax_t existing = std::filesystem::file_size(part, error);
  if (!error) {
    if (existing > request.expected_size) {
      std::filesystem::remove(part, error);
    } else {
      offset = existing;
    }
  }
  if (offset == request.expected_size) return VerifyAndInstall(request, part, {}, message);

  // 5 to 8: the transfer, from the offset on.
  if (Cancelled(request)) return Fail(message, kDownloadCancelledMessage);
  HttpRequest http;
  http.url = request.url;
  http.resolve_timeout_ms = kResolveTimeoutMs;
  http.connect_timeout_ms = kConnectTimeoutMs;
  http.send_timeout_ms = kSendTimeoutMs;
  http.receive_timeout_ms = kReceiveTimeoutMs;
  http.cancellation = request.cancellation;
  if (offset != 0) http.headers.emplace_back("Range", "bytes=" + std::to_string(offset) + "-");
  PartSink sink(request, part, offset);
  HttpError http_error;
  const bool streamed = client_.Stream(http, &sink, &http_error);
  const bool finished = sink.Finish();
  if (!sink.message().empty()) return Fail(message, sink.message());
  if (!streamed || !finished) {
    if (Cancelled(request)) return Fail(message, kDownloadCancelledMessage);
    if (http_error.stage == "WinHttpOpen") return Fail(message, kDownloadSessionMessage);
    if (!sink.headers_seen()) return Fail(message, kDownloadRequestFailedMessage);
    if (http_error.code == kHttpErrorConnection && sink.on_disk() < request.expected_size)
      return Fail(message, kDownloadIncompleteMessage);
    return Fail(message, kDownloadWriteMessage);
  }
  if (sink.on_disk() != request.expected_size) return Fail(message, kDownloadIncompleteMessage);

  // 9: only a verified file reaches the target.
  std::string digest;
  if (!sink.Digest(&digest)) digest.clear();
  return VerifyAndInstall(request, part, std::move(digest), message);
}

}  // namespace kavi::win
