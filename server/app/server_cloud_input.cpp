// SPDX-License-Identifier: Apache-2.0
#include "server/app/server_cloud_input.h"

#include "ovra/engine_api.h"
#include "platform/log.h"
#include "server/engine/engine_lock.h"

namespace kavi::win::server {

bool ApplyHotWordsToEngine(const std::vector<CloudHotItem>& words) {
  std::vector<const char*> keys, values;
  keys.reserve(words.size());
  values.reserve(words.size());
  for (const CloudHotItem& word : words) {
    keys.push_back(word.reading.c_str());
    values.push_back(word.word.c_str());
  }
  return kavi_cloud_hot_replace(keys.data(), values.data(), static_cast<int32_t>(words.size()));
}

bool ApplyWordPairsToEngine(const std::vector<CloudBigramItem>& pairs) {
  kavi_cloud_bigram_clear();
  for (const CloudBigramItem& pair : pairs)
    kavi_cloud_bigram_add(pair.earlier.c_str(), pair.following.c_str(), pair.weight);
  return kavi_cloud_bigram_rebuild();
}

void ClearEngineCloudWords() {
  kavi_cloud_hot_clear();
  kavi_cloud_bigram_clear();
}

ServerCloudInput::ServerCloudInput(const std::filesystem::path& cloud_dir,
                                   std::filesystem::path user_endpoints)
    : user_endpoints_(std::move(user_endpoints)) {
  CloudInputOptions options;
  options.directory = cloud_dir;
  options.engine_lock = &EngineLock();
  options.callbacks.report = [this](const CloudUploadBatch& batch, CloudReportResult* result,
                                    std::string* error, HttpCancellation* cancellation) {
    return link_.Report(batch, result, error, cancellation);
  };
  options.callbacks.fetch_hot = [this](const std::string& hash,
                                       CloudSnapshot<CloudHotItem>* snapshot, std::string* error,
                                       HttpCancellation* cancellation) {
    return link_.FetchHot(hash, snapshot, error, cancellation);
  };
  options.callbacks.fetch_bigram = [this](const std::string& hash,
                                          CloudSnapshot<CloudBigramItem>* snapshot,
                                          std::string* error, HttpCancellation* cancellation) {
    return link_.FetchBigram(hash, snapshot, error, cancellation);
  };
  options.callbacks.apply_hot = ApplyHotWordsToEngine;
  options.callbacks.apply_bigram = ApplyWordPairsToEngine;
  options.callbacks.clear = ClearEngineCloudWords;
  manager_ = std::make_unique<CloudInputManager>(std::move(options));
}

void ServerCloudInput::Apply(bool cloud_input) {
  std::lock_guard<std::mutex> hold(apply_mutex_);
  std::string problem;
  const bool configured = link_.Configure(UserCloudEndpoints(user_endpoints_, &problem));
  if (!problem.empty()) LogLine("[Kavi] " + problem + "\n");
  const bool turned_off = !cloud_input && (setting_on_ || !applied_once_);
  applied_once_ = true;
  setting_on_ = cloud_input;
  if (turned_off) {
    manager_->SetEnabled(false, /*purge=*/true);
    return;
  }
  if (!cloud_input) return;
  if (!configured && !idle_logged_) {
    idle_logged_ = true;
    LogLine(kCloudIdleLog);
  }
  manager_->SetEnabled(configured, /*purge=*/false);
}

}  // namespace kavi::win::server
