// SPDX-License-Identifier: Apache-2.0
#include "packs/scheme_pack_manager.h"

#include <algorithm>
#include <system_error>

#include "net/sha256.h"
#include "packs/pack_transaction.h"
#include "platform/clock.h"
#include "platform/directories.h"
#include "platform/identity.h"

namespace kavi::win {
namespace {

namespace fs = std::filesystem;

bool Fail(std::string* message, std::string text) {
  if (message != nullptr) *message = std::move(text);
  return false;
}

// Adds the time since `start` to `total` when timings are wanted.
class PhaseTimer {
 public:
  explicit PhaseTimer(uint64_t* total) : total_(total), start_(PerformanceCounter()) {}
  ~PhaseTimer() {
    if (total_ != nullptr) *total_ += PerformanceCounter() - start_;
  }
  PhaseTimer(const PhaseTimer&) = delete;
  PhaseTimer& operator=(const PhaseTimer&) = delete;

 private:
  uint64_t* total_;
  uint64_t start_;
};

// Whatever happens to the install, its staging directory goes.
class StagingDirectory {
 public:
  explicit StagingDirectory(fs::path path) : path_(std::move(path)) {}
  ~StagingDirectory() {
    if (created_) RemovePackStaging(path_);
  }
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;

  bool Create() {
    created_ = CreateDirectory(path_, kPrivateDirectoryMode);
    return created_;
  }
  const fs::path& path() const { return path_; }

 private:
  const fs::path path_;
  bool created_ = false;
};

uint64_t* Field(PackInstallTimings* timings, uint64_t PackInstallTimings::*field) {
  return timings == nullptr ? nullptr : &(timings->*field);
}

}  // namespace

std::string PackNetworkMessage(const HttpError& error) {
  std::string text = kPackNetworkMessage + error.stage + " " + std::to_string(error.code);
  if (!error.message.empty()) text += "（" + error.message + "）";
  return text;
}

SchemePackManager::SchemePackManager(fs::path pack_dir, HttpSend send, BaseUrl base_url,
                                     Installed installed)
    : pack_dir_(std::move(pack_dir)),
      send_(std::move(send)),
      base_url_(std::move(base_url)),
      installed_(std::move(installed)) {}

bool SchemePackManager::FetchManifest(std::vector<PackRecord>* packs, std::string* message,
                                      HttpCancellation* cancellation) {
  const std::string base = base_url_ ? base_url_() : std::string();
  if (!send_ || base.empty()) return Fail(message, kPackNotReadyMessage);
  HttpRequest request;
  request.url = base + kPackManifestPath;
  request.receive_timeout_ms = kPackManifestTimeoutMs;
  request.max_response_bytes = kPackManifestMaxBytes;
  request.cancellation = cancellation;
  HttpResponse response;
  HttpError error;
  if (!send_(request, &response, &error)) return Fail(message, PackNetworkMessage(error));
  if (response.status < 200 || response.status > 299)
    return Fail(message, kPackManifestStatusMessage + std::to_string(response.status));
  std::string invalid;
  if (!ParsePackManifest(response.body, packs, &invalid))
    return Fail(message, kPackManifestInvalidMessage + invalid);
  if (message != nullptr) message->clear();
  return true;
}

bool SchemePackManager::Install(const std::string& id, std::string* message,
                                HttpCancellation* cancellation, PackInstallTimings* timings) {
  if (!IsValidPackId(id)) return Fail(message, kPackIdInvalidMessage);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!InstallLocked(id, message, cancellation, timings)) return false;
  }
  if (installed_) installed_(id);
  if (message != nullptr) message->clear();
  return true;
}

bool SchemePackManager::InstallLocked(const std::string& id, std::string* message,
                                      HttpCancellation* cancellation,
                                      PackInstallTimings* timings) {
  std::vector<PackRecord> packs;
  {
    PhaseTimer timer(Field(timings, &PackInstallTimings::manifest_ns));
    if (!FetchManifest(&packs, message, cancellation)) return false;
  }
  const auto pack = std::find_if(packs.begin(), packs.end(),
                                 [&](const PackRecord& record) { return record.id == id; });
  if (pack == packs.end()) return Fail(message, kPackNotListedMessage);

  std::string ignored;
  if (!CreateDirectories(pack_dir_, kPrivateDirectoryMode, &ignored))
    return Fail(message, kPackDirectoryMessage);
  StagingDirectory staging(pack_dir_ / (kPackStagingPrefix + id + "-" +
                                        std::to_string(CurrentProcessId()) + "-" +
                                        std::to_string(TickCount64())));
  if (!staging.Create()) return Fail(message, kPackStagingMessage);
  if (!DownloadAndStage(*pack, staging.path(), message, cancellation, timings)) return false;

  // From here on the pack directory changes; until the marker is back the pack is not whole.
  PhaseTimer timer(Field(timings, &PackInstallTimings::commit_ns));
  const fs::path marker = PackMarkerPath(pack_dir_, id);
  std::error_code error;
  fs::remove(marker, error);
  PackTransaction transaction(pack_dir_, staging.path());
  if (!transaction.Begin(message)) return false;
  for (const PackFile& file : pack->files)
    if (!transaction.Commit(file.name, message)) return false;
  if (!WritePackFileAtomically(marker, kPackCompleteContent, message)) {
    transaction.Rollback();
    return false;
  }
  return true;
}

bool SchemePackManager::DownloadAndStage(const PackRecord& pack, const fs::path& staging,
                                         std::string* message, HttpCancellation* cancellation,
                                         PackInstallTimings* timings) {
  for (const PackFile& file : pack.files) {
    HttpRequest request;
    request.url = file.url;
    request.receive_timeout_ms = kPackFileTimeoutMs;
    request.max_response_bytes = file.bytes;
    request.cancellation = cancellation;
    HttpResponse response;
    HttpError error;
    {
      PhaseTimer timer(Field(timings, &PackInstallTimings::download_ns));
      if (!send_(request, &response, &error)) return Fail(message, PackNetworkMessage(error));
    }
    if (response.status < 200 || response.status > 299 || response.body.size() != file.bytes)
      return Fail(message, kPackFileStatusMessage);
    {
      PhaseTimer timer(Field(timings, &PackInstallTimings::verify_ns));
      std::string digest, hash_error;
      if (!Sha256Bytes(response.body, &digest, &hash_error) || digest != file.sha256)
        return Fail(message, kPackFileHashMessage);
    }
    PhaseTimer timer(Field(timings, &PackInstallTimings::commit_ns));
    if (!WritePackFileAtomically(staging / file.name, response.body, message)) return false;
  }
  return true;
}

bool SchemePackManager::Remove(const std::string& id, std::string* message) {
  if (!IsValidPackId(id)) return Fail(message, kPackIdInvalidMessage);
  std::lock_guard<std::mutex> hold(mutex_);
  std::error_code error;
  const fs::file_status status = fs::status(pack_dir_, error);
  if (error && status.type() != fs::file_type::not_found)
    return Fail(message, kPackReadDirectoryMessage);
  if (!fs::is_directory(status)) {
    if (message != nullptr) message->clear();
    return true;
  }
  // The marker goes first: a removal cut short never leaves a pack that claims to be whole.
  fs::remove(PackMarkerPath(pack_dir_, id), error);
  const std::string prefix = id + ".";
  std::vector<fs::path> doomed;
  fs::directory_iterator it(pack_dir_, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    if (!it->path().filename().string().starts_with(prefix)) continue;
    std::error_code stat_error;
    const fs::file_status entry = it->symlink_status(stat_error);
    if (stat_error) return Fail(message, kPackFileStatMessage);
    if (fs::is_regular_file(entry)) doomed.push_back(it->path());
  }
  if (error) return Fail(message, kPackEnumerateMessage);
  for (const fs::path& file : doomed) {
    std::error_code remove_error;
    if (!fs::remove(file, remove_error) && remove_error) return Fail(message, kPackDeleteMessage);
  }
  if (message != nullptr) message->clear();
  return true;
}

bool SchemePackManager::IsInstalled(const std::string& scheme_id) const {
  const std::string pack_id = scheme_id.substr(0, scheme_id.find('.'));
  if (!IsValidPackId(pack_id)) return false;
  std::error_code error;
  return fs::is_regular_file(pack_dir_ / (scheme_id + kSchemeFileSuffixOfPacks), error) &&
         fs::is_regular_file(PackMarkerPath(pack_dir_, pack_id), error);
}

}  // namespace kavi::win
