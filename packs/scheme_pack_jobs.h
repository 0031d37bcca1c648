// SPDX-License-Identifier: Apache-2.0
// The scheme jobs that client sessions start (install or remove one pack), each on a worker
// thread: the operation, then, when it succeeded, the engine restart that makes the engine
// deploy the new file set. One job runs at a time (the sessions' busy flag sees to that); the
// process-wide cancellation aborts its downloads.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "net/http_cancellation.h"
#include "packs/scheme_pack_manager.h"
#include "ports/scheme_pack_port.h"

namespace kavi::win {

inline constexpr char kSchemeJobExceptionMessage[] = "方案作業發生異常";
inline constexpr char kSchemeJobUnknownExceptionMessage[] = "方案作業發生未知異常";
inline constexpr char kSchemeJobFailedLog[] = "[Kavi] 方案作業失敗：";

class SchemePackJobs final : public SchemePackPort {
 public:
  // Takes the engine lock, shuts the engine down and starts it again (it reads the pack
  // directory as it starts); true when it came back with its configuration.
  using EngineRestart = std::function<bool(std::string* message)>;

  // The manager and the cancellation must outlive the jobs.
  SchemePackJobs(SchemePackManager* manager, HttpCancellation* cancellation,
                 EngineRestart restart);
  ~SchemePackJobs() override;

  bool Ready() override { return manager_ != nullptr; }
  bool StartJob(bool install, const std::string& pack_id,
                std::function<void(bool success)> finished, std::string* message) override;
  bool IsInstalled(const std::string& scheme_id) override;
  void CancelJob() override;

  // Waits for the running job (teardown).
  void Join();
  // The message of the last job that ended (empty after a success).
  std::string last_message() const;

 private:
  bool Run(bool install, const std::string& pack_id, std::string* message);

  SchemePackManager* const manager_;
  HttpCancellation* const cancellation_;
  const EngineRestart restart_;
  mutable std::mutex mutex_;
  std::thread worker_;
  std::string last_message_;
};

}  // namespace kavi::win
