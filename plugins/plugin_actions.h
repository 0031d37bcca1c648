// The asynchronous actions of plug-in items (clipboard translation, the 2FA list, a TOTP code):
// each runs on a task of its own and hands back a PluginAsyncResult; PluginJobs keeps a client
// session's current job and the superseded ones whose results are dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "plugins/plugin_types.h"

namespace kavi::win {

// The services an action calls. An empty function means the service is missing. Each returns
// the service operation's success and fills its outputs; cancellation is the caller's to bind.
struct PluginActionServices {
  std::function<std::string()> read_clipboard;
  std::function<bool(const std::string& text, const std::string& target, std::string* translation,
                     std::string* error)>
      translate;
  std::function<bool(std::string* error)> fetch_two_factor;
  std::function<bool(const std::string& entry_id, std::string* code, std::string* error)>
      request_code;
};

// Runs the action of an item kind (TranslateClipboard, LoadTwoFactor, RequestCode) with its
// payload. Other kinds finish at once with status 0 and no texts.
std::shared_future<PluginAsyncResult> StartPluginAction(uint32_t kind, std::string payload,
                                                        PluginActionServices services);

class PluginJobs {
 public:
  PluginJobs() = default;
  PluginJobs(const PluginJobs&) = delete;
  PluginJobs& operator=(const PluginJobs&) = delete;
  ~PluginJobs() { WaitAll(); }

  // Makes `job` the current one; a current job still running moves to the superseded list.
  void Start(uint32_t kind, std::shared_future<PluginAsyncResult> job);

  // Takes the current job when it has finished; false when there is none or it still runs.
  bool TakeFinished(uint32_t* kind, PluginAsyncResult* result);

  // Drops the results of superseded jobs that have finished.
  void ReapSuperseded();

  // Waits for the current and every superseded job and drops them.
  void WaitAll();

  bool has_current() const { return current_.valid(); }
  size_t superseded_count() const { return superseded_.size(); }

 private:
  uint32_t current_kind_ = 0;
  std::shared_future<PluginAsyncResult> current_;
  std::vector<std::shared_future<PluginAsyncResult>> superseded_;
};

}  // namespace kavi::win
