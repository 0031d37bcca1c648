// SPDX-License-Identifier: Apache-2.0
#include "update/update_checker.h"

#include <system_error>

#include "net/sha256.h"
#include "platform/directories.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "platform/log.h"
#include "platform/signature/detached_signature.h"
#include "update/deb_control.h"

namespace kavi::win {
namespace {

namespace fs = std::filesystem;
using Outcome = UpdateResult::Outcome;

constexpr uint32_t kFeedResolveTimeoutMs = 5000;
constexpr uint32_t kFeedConnectTimeoutMs = 5000;
constexpr uint32_t kFeedSendTimeoutMs = 15000;
constexpr uint32_t kFeedReceiveTimeoutMs = 15000;
constexpr uintmax_t kMaxAvailableBytes = 8192;
constexpr char kAvailableLineEnd[] = "\r\n";

UpdateResult Failed(std::string message) {
  UpdateResult result;
  result.outcome = Outcome::kFailed;
  result.message = std::move(message);
  return result;
}

bool Fail(std::string* message, std::string text) {
  *message = std::move(text);
  return false;
}

std::string JoinVersion(const std::vector<uint32_t>& version) {
  std::string text;
  for (uint32_t part : version) text += (text.empty() ? "" : ".") + std::to_string(part);
  return text;
}

fs::path WithSuffix(const fs::path& path, const char* suffix) {
  fs::path with = path;
  with += suffix;
  return with;
}

}  // namespace

bool ReadPendingUpdate(const fs::path& updates_dir, PendingUpdate* pending) {
  std::string text;
  if (ReadRegularFile(updates_dir / kAvailableFileName, kMaxAvailableBytes, &text) !=
      ReadFileResult::kRead)
    return false;
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find(kAvailableLineEnd, at)) != std::string::npos;
       at = end + 2)
    lines.push_back(text.substr(at, end - at));
  std::vector<uint32_t> version, build;
  if (lines.size() != 4 || !ParseVersion(lines[0], &version) || !ParseVersion(lines[1], &build) ||
      build.size() != 1 || lines[2].size() != 64 || lines[3].empty())
    return false;
  *pending = {lines[0], build[0], lines[2], lines[3]};
  return true;
}

bool WritePendingUpdate(const fs::path& updates_dir, const PendingUpdate& pending) {
  const std::string text = pending.version + kAvailableLineEnd +
                           std::to_string(pending.build_number) + kAvailableLineEnd +
                           pending.sha256 + kAvailableLineEnd + pending.installer.string() +
                           kAvailableLineEnd;
  return ReplaceFile(updates_dir / kAvailableFileName, text, kPrivateFileMode, nullptr);
}

UpdateChecker::UpdateChecker(UpdateCheckerOptions options) : options_(std::move(options)) {}

UpdateChecker::~UpdateChecker() {
  Stop();
}

std::chrono::system_clock::time_point UpdateChecker::Now() const {
  return options_.now ? options_.now() : std::chrono::system_clock::now();
}

UpdateResult UpdateChecker::CheckOnce() {
  // 1: the feed.
  const std::string base = options_.base_url ? options_.base_url() : std::string();
  if (base.empty() || !options_.send) return Failed(kUpdateFeedDownloadMessage);
  HttpRequest request;
  request.url = base + kUpdateFeedPath;
  request.resolve_timeout_ms = kFeedResolveTimeoutMs;
  request.connect_timeout_ms = kFeedConnectTimeoutMs;
  request.send_timeout_ms = kFeedSendTimeoutMs;
  request.receive_timeout_ms = kFeedReceiveTimeoutMs;
  request.max_response_bytes = kMaxUpdateFeedBytes;
  request.cancellation = options_.cancellation;
  HttpResponse response;
  HttpError error;
  if (!options_.send(request, &response, &error) || response.status != 200)
    return Failed(kUpdateFeedDownloadMessage);

  // 2 to 4: is it newer, and is there a package for this machine.
  UpdateFeed feed;
  std::string reason;
  if (!ParseUpdateFeed(response.body, &feed, &reason)) {
    LogLine("[Kavi] update feed: " + reason + "\n");
    return Failed(kUpdateFeedInvalidMessage);
  }
  if (!IsNewerVersion(feed.version, feed.build_number, options_.running_version,
                      options_.running_build)) {
    UpdateResult result;
    result.outcome = Outcome::kUpToDate;
    return result;
  }
  const std::string architecture =
      options_.architecture.empty() ? std::string(NativeArchitecture()) : options_.architecture;
  const UpdateArtifact* artifact = FindArtifact(feed, architecture);
  if (artifact == nullptr) return Failed(kUpdateNoArchitectureMessage);

  // 5 and 6: the download.
  std::string ignored;
  if (!CreateDirectories(options_.updates_dir, kPrivateDirectoryMode, &ignored))
    return Failed(kUpdateDirectoryMessage);
  RemoveStaleDownloads(artifact->file);
  const fs::path installer = options_.updates_dir / artifact->file;
  DownloadRequest download;
  download.url = artifact->url;
  download.target = installer;
  download.expected_size = artifact->bytes;
  download.expected_sha256 = artifact->sha256;
  download.cancellation = options_.cancellation;
  std::string message;
  if (!options_.download || !options_.download(download, &message)) return Failed(message);

  // 7: what was downloaded is what the feed announced, signed by us.
  if (!FetchSignature(*artifact, installer, &message) ||
      !Verify(feed, *artifact, installer, &message))
    return Failed(message);
  UpdateResult result;
  result.outcome = Outcome::kStaged;
  result.version = JoinVersion(feed.version);
  result.build_number = feed.build_number;
  result.sha256 = artifact->sha256;
  result.installer = installer;
  return result;
}

bool UpdateChecker::FetchSignature(const UpdateArtifact& artifact, const fs::path& installer,
                                   std::string* message) {
  HttpRequest request;
  request.url = artifact.url + kSignatureSuffix;
  request.max_response_bytes = kMaxUpdateSignatureBytes;
  request.cancellation = options_.cancellation;
  HttpResponse response;
  HttpError error;
  if (!options_.send(request, &response, &error) || response.status != 200 ||
      response.body.empty() ||
      !ReplaceFile(WithSuffix(installer, kSignatureSuffix), response.body, kPrivateFileMode,
                   nullptr))
    return Fail(message, kUpdateSignatureDownloadMessage);
  return true;
}

bool UpdateChecker::Verify(const UpdateFeed& feed, const UpdateArtifact& artifact,
                           const fs::path& installer, std::string* message) {
  std::string digest, error;
  if (!Sha256File(installer, &digest, &error) || digest != artifact.sha256)
    return Fail(message, kUpdateHashMessage);

  const SignatureCheck check = VerifyDetachedSignature(
      installer, WithSuffix(installer, kSignatureSuffix), options_.trust_anchors);
  switch (check.outcome) {
    case SignatureCheck::Outcome::kUnreadable:
      LogLine("[Kavi] " + installer.string() + ": " + check.detail + "\n");
      return Fail(message, kUpdateSignerUnreadableMessage);
    case SignatureCheck::Outcome::kChainFailed:
      LogLine("[Kavi] " + installer.string() + ": " + check.detail + "\n");
      return Fail(message, kUpdateSignatureChainMessage + std::to_string(check.failure_code));
    case SignatureCheck::Outcome::kValid:
      break;
  }
  if (check.signer_common_name != kUpdateSignerName) return Fail(message, kUpdateSignerNameMessage);

  DebControl control;
  switch (ReadDebControl(installer, &control, &error)) {
    case DebControlResult::kUnreadable:
      LogLine("[Kavi] " + installer.string() + ": " + error + "\n");
      return Fail(message, kUpdateVersionUnreadableMessage);
    case DebControlResult::kNoControl:
      return Fail(message, kUpdateNoVersionMessage);
    case DebControlResult::kRead:
      break;
  }
  if (control.version.empty()) return Fail(message, kUpdateNoVersionMessage);
  std::vector<uint32_t> version;
  uint32_t build = 0;
  if (!ParseDebianVersion(control.version, &version, &build))
    return Fail(message, kUpdateVersionInvalidMessage);
  if (version != feed.version || build != feed.build_number)
    return Fail(message, kUpdateVersionMismatchMessage);
  if (control.package != kUpdatePackageName ||
      control.architecture != DebianArchitecture(artifact.architecture))
    return Fail(message, kUpdateIdentityMessage);
  return true;
}

void UpdateChecker::RemoveStaleDownloads(const std::string& keep_file) {
  PendingUpdate pending;
  std::string pending_file;
  if (ReadPendingUpdate(options_.updates_dir, &pending))
    pending_file = pending.installer.filename().string();
  std::vector<fs::path> stale;
  std::error_code error;
  for (fs::directory_iterator it(options_.updates_dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code type_error;
    if (!it->is_regular_file(type_error) || name == kLastCheckFileName ||
        name == kAvailableFileName)
      continue;
    // The package being fetched and the pending one stay, with their companions.
    const bool kept = name.starts_with(keep_file + ".") || name == keep_file ||
                      (!pending_file.empty() &&
                       (name == pending_file || name.starts_with(pending_file + ".")));
    if (!kept) stale.push_back(it->path());
  }
  for (const fs::path& path : stale) fs::remove(path, error);
}

bool UpdateChecker::Due() {
  if (!options_.enabled) return false;
  std::error_code error;
  const fs::file_time_type written =
      fs::last_write_time(options_.updates_dir / kLastCheckFileName, error);
  if (error) return true;
  return Now() - std::chrono::file_clock::to_sys(written) >= kUpdateCheckInterval;
}

bool UpdateChecker::TouchLastCheck() {
  const fs::path path = options_.updates_dir / kLastCheckFileName;
  std::string ignored;
  if (!CreateDirectories(options_.updates_dir, kPrivateDirectoryMode, &ignored) ||
      !ReplaceFile(path, kLastCheckContent, kPrivateFileMode, nullptr))
    return false;
  // The time the schedule measures from is the checker's clock, which tests set.
  std::error_code error;
  fs::last_write_time(
      path,
      std::chrono::file_clock::from_sys(
          std::chrono::time_point_cast<std::chrono::system_clock::duration>(Now())),
      error);
  return !error;
}

bool UpdateChecker::RunIfDue(UpdateResult* out) {
  if (!Due()) return false;
  if (options_.cancellation != nullptr) options_.cancellation->Rearm();
  UpdateResult result = CheckOnce();
  switch (result.outcome) {
    case Outcome::kUpToDate:
      if (!TouchLastCheck()) LogLine(kUpdateLastCheckLog);
      break;
    case Outcome::kStaged:
      if (WritePendingUpdate(options_.updates_dir, {result.version, result.build_number,
                                                    result.sha256, result.installer})) {
        if (!TouchLastCheck()) LogLine(kUpdateLastCheckLog);
        LogLine(kUpdateStagedLog);
        if (options_.notify) options_.notify(result);
      } else {
        LogLine(kUpdateRecordLog);
      }
      break;
    case Outcome::kFailed:
      LogLine(kUpdateFailedLog);
      LogLine("[Kavi] " + result.message + "\n");
      break;
  }
  if (out != nullptr) *out = std::move(result);
  return true;
}

void UpdateChecker::Start() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void UpdateChecker::Stop() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  if (options_.cancellation != nullptr) options_.cancellation->Cancel();
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void UpdateChecker::Wake() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void UpdateChecker::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    lock.unlock();
    RunIfDue();
    lock.lock();
    wake_.wait_for(lock, kUpdateRetryInterval, [this] { return stop_ || woken_; });
    woken_ = false;
  }
}

}  // namespace kavi::win
