// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/job_watch.h"

namespace kavi::win {

JobWatch::JobWatch(ServerLink& link, Schedule schedule)
    : link_(link), schedule_(std::move(schedule)) {}

JobWatch::~JobWatch() {
  // Answers and timers still on their way find the state dead and do nothing.
  if (state_) state_->alive = false;
}

void JobWatch::Start(JobFamily family, RequestKind start, std::string text, Update update) {
  if (state_) state_->alive = false;
  auto state = std::make_shared<State>();
  state->running = true;
  state->family = family;
  state->update = std::move(update);
  state_ = state;
  link_.Send(start, std::move(text), 0, [this, state](const ServerAnswer& answer) {
    if (!state->alive) return;
    const JobProgress progress = ReadJobStart(answer);
    state->running = !progress.finished();
    state->update(progress);
    if (state->running)
      schedule_(kJobPollMilliseconds, [this, state] {
        if (state->alive) Poll(state);
      });
  });
}

void JobWatch::Cancel(RequestKind cancel) {
  if (running()) link_.Send(cancel, {}, 0, [](const ServerAnswer&) {});
}

void JobWatch::Poll(std::shared_ptr<State> state) {
  link_.Send(StatusKindOf(state->family), {}, 0, [this, state](const ServerAnswer& answer) {
    if (!state->alive) return;
    const JobProgress progress = ReadJobStatus(state->family, answer);
    state->running = !progress.finished();
    state->update(progress);
    if (state->running)
      schedule_(kJobPollMilliseconds, [this, state] {
        if (state->alive) Poll(state);
      });
  });
}

}  // namespace kavi::win
