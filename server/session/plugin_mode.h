// SPDX-License-Identifier: Apache-2.0
// A client session's plug-in mode: the plug-in session, the background jobs its actions start,
// and the reply fields of a plug-in page.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "plugins/plugin_session.h"
#include "protocol/pipe_records.h"

namespace kavi::win {

inline constexpr char kTwoFactorRefreshFailed[] = "2FA 列表刷新失敗";
inline constexpr char kActionFailed[] = "操作失敗";

class PluginMode {
 public:
  // Runs one action (translate, fetch the 2FA list, request a code) on a worker thread.
  using ActionRunner =
      std::function<PluginAsyncResult(uint32_t action_kind, const std::string& payload)>;

  PluginMode(PluginEngine* engine, std::function<PluginContext()> context, ActionRunner runner);
  ~PluginMode();

  PluginSession& session() { return session_; }
  bool active() const { return session_.active(); }

  // When the result reports an action, starts its job as the current one; a current job still
  // running is superseded (its result will be dropped).
  void StartJobFor(const PluginSessionResult& result);
  // Drops the results of superseded jobs that have finished.
  void ReapSuperseded();

  struct FinishedJob {
    uint32_t action_kind = 0;
    PluginAsyncResult result;
  };
  // The current job once it has finished.
  std::optional<FinishedJob> TakeFinishedJob();
  // Waits for every job (the session is ending).
  void WaitForJobs();

  // Writes a plug-in page into a reply: preedit, the page's items, paging and selection.
  static void FillReply(const PluginSessionResult& result, PipeResponse* reply);

 private:
  struct Job {
    uint32_t action_kind = 0;
    std::shared_future<PluginAsyncResult> future;
  };

  PluginSession session_;
  ActionRunner runner_;
  std::optional<Job> current_;
  std::list<Job> superseded_;
};

}  // namespace kavi::win
