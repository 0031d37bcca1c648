// SPDX-License-Identifier: Apache-2.0
// The server's cloud input: the manager over the user's chosen service and the engine's cloud
// word lists, switched by the "cloud_input" setting.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "net/cloud_input_manager.h"
#include "net/cloud_service_link.h"

namespace kavi::win::server {

inline constexpr char kCloudIdleLog[] = "[Kavi] 未設定 Kavi 服務地址，雲端詞保持閒置\n";

// The engine side of the manager's callbacks (the caller holds the engine lock).
bool ApplyHotWordsToEngine(const std::vector<CloudHotItem>& words);
bool ApplyWordPairsToEngine(const std::vector<CloudBigramItem>& pairs);
void ClearEngineCloudWords();

class ServerCloudInput {
 public:
  // `cloud_dir` holds pending.json; `user_endpoints` is the user's endpoints file.
  ServerCloudInput(const std::filesystem::path& cloud_dir, std::filesystem::path user_endpoints);

  CloudInputManager* manager() { return manager_.get(); }

  // Re-reads the user's endpoints and follows the setting: on, with a service named, the manager
  // counts and reports; on without a service it stays idle (and says so once); turning the
  // setting off discards what was counted and not sent, and the engine's cloud words.
  void Apply(bool cloud_input);
  // Starts the worker.
  void Start() { manager_->Start(); }
  // Stops the worker and writes the final state.
  void Shutdown() { manager_->Shutdown(); }

 private:
  const std::filesystem::path user_endpoints_;
  CloudServiceLink link_;
  std::unique_ptr<CloudInputManager> manager_;
  std::mutex apply_mutex_;
  bool applied_once_ = false;
  bool setting_on_ = false;
  bool idle_logged_ = false;
};

}  // namespace kavi::win::server
