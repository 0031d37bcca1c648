// SPDX-License-Identifier: Apache-2.0
// Starts a server job for a page and follows it to its end: the start request, then the
// family's status request every poll interval, each result handed to the page.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tools/settings/server_link.h"
#include "tools/settings/server_requests.h"

namespace kavi::win {

inline constexpr int kJobPollMilliseconds = 300;

class JobWatch {
 public:
  // Runs a callback on the window's thread after a delay (the window's main loop timer).
  using Schedule = std::function<void(int delay_ms, std::function<void()>)>;
  using Update = std::function<void(const JobProgress&)>;

  JobWatch(ServerLink& link, Schedule schedule);
  ~JobWatch();

  // Sends `start` (with `text`, such as a pack id or a model name) and reports every progress
  // until the job has finished. A second Start while one is followed replaces the first's
  // updates.
  void Start(JobFamily family, RequestKind start, std::string text, Update update);
  // Asks the server to cancel (kinds 31 and 44); the job's end is reported as usual.
  void Cancel(RequestKind cancel);
  bool running() const { return state_ && state_->running; }

 private:
  struct State {
    bool running = false;
    bool alive = true;
    JobFamily family = JobFamily::kMaintenance;
    Update update;
  };
  void Poll(std::shared_ptr<State> state);

  ServerLink& link_;
  Schedule schedule_;
  std::shared_ptr<State> state_;
};

}  // namespace kavi::win
