// SPDX-License-Identifier: Apache-2.0
#include "update/file_downloader.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>
#include <thread>

#include "net/https_url.h"
#include "net/sha256.h"
#include "platform/download_file.h"
#include "update/chunk_pipeline.h"

namespace kavi::win {
namespace {

// Chunks in flight between receiving and writing: a write to disk that stalls for a moment
// (the device's queue, write-back of other files) does not stall the transfer behind it.
constexpr size_t kDownloadBuffers = 4;

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

// Writes the body into the partial file in chunks of at most 1 MiB, checking the expected size
// as the bytes arrive and the cancellation before each chunk, and hashes each chunk on the way:
// the file is not read again to be verified (on a fast link that second pass cost a quarter of
// the download's time). Receiving (TLS decryption), hashing and writing each run on a thread of
// their own, chunks passing from one stage to the next: in turn on one thread they made the
// download half as fast as receiving alone, and hashing on the receiving thread still held it
// to 0.7 of `curl -o`. A resumed download hashes the part already on disk first.
class PartSink final : public HttpBodySink {
 public:
  PartSink(const DownloadRequest& request, std::filesystem::path part, uint64_t offset)
      : request_(request), part_(std::move(part)), offset_(offset) {}

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
    writing_.emplace(
        kDownloadChunkBytes, kPartFileDirectAlignment,
        [this](std::string_view chunk) { return Write(chunk); }, kDownloadBuffers);
    hashing_.emplace(
        kDownloadChunkBytes, kPartFileDirectAlignment,
        [this](std::string_view chunk) {
          std::string ignored;
          hash_.Add(chunk.data(), chunk.size(), &ignored);
          return writing_->Add(chunk.data(), chunk.size());
        },
        kDownloadBuffers);
    return true;
  }

  bool OnBody(const char* data, size_t size) override {
    if (Cancelled(request_)) return Stop(kDownloadCancelledMessage);
    if (size > request_.expected_size - offset_ - received_) return Stop(kDownloadWriteMessage);
    received_ += size;
    if (!hashing_->Add(data, size)) return Stop(write_failure_);
    return true;
  }

  // Writes what is still buffered and closes the file; false (with the message) on failure.
  bool Finish() {
    if (!hashing_) return true;
    const bool flushed = hashing_->Finish() && writing_->Finish();
    hashing_.reset();
    writing_.reset();
    if (!flushed) Stop(write_failure_);
    const bool closed = file_.Close();
    if (flushed && !closed) return Stop(kDownloadWriteMessage);
    return flushed;
  }

  // The SHA-256 of the partial file as written; false when hashing failed on the way (the file
  // is then hashed from disk). Only after Finish.
  bool Digest(std::string* hex) {
    std::string ignored;
    return hash_.Finish(hex, &ignored);
  }
  bool headers_seen() const { return headers_seen_; }
  // Only after Finish.
  uint64_t on_disk() const { return offset_ + written_; }
  const std::string& message() const { return message_; }

 private:
  bool Stop(std::string message) {
    if (message_.empty()) message_ = std::move(message);
    return false;
  }

  // One chunk, on the pipeline's thread.
  bool Write(std::string_view chunk) {
    if (Cancelled(request_)) {
      write_failure_ = kDownloadCancelledMessage;
      return false;
    }
    if (!file_.Append(chunk)) {
      write_failure_ = kDownloadWriteMessage;
      return false;
    }
    written_ += chunk.size();
    if (request_.progress) request_.progress(offset_ + written_, request_.expected_size);
    return true;
  }

  const DownloadRequest& request_;
  const std::filesystem::path part_;
  uint64_t offset_;
  uint64_t received_ = 0;  // the receiving thread's count
  bool headers_seen_ = false;
  std::string message_;
  Sha256Hasher hash_;  // the hashing thread's; read only once the pipelines finished
  // The writing thread's: read by the receiving thread only once a chunk was refused or the
  // pipelines finished.
  PartFile file_;
  uint64_t written_ = 0;
  std::string write_failure_;
  // Last, so that their threads end before what they use goes; the hashing stage hands its
  // chunks on to the writing stage, so it goes first.
  std::optional<ChunkPipeline> writing_;
  std::optional<ChunkPipeline> hashing_;
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
