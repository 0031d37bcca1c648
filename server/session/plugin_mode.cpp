// SPDX-License-Identifier: Apache-2.0
#include "server/session/plugin_mode.h"

#include <chrono>

namespace kavi::win {
namespace {

bool Ready(const std::shared_future<PluginAsyncResult>& f) {
  return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace

PluginMode::PluginMode(PluginEngine* engine, std::function<PluginContext()> context,
                       ActionRunner runner)
    : session_(engine, std::move(context)), runner_(std::move(runner)) {}

PluginMode::~PluginMode() {
  WaitForJobs();
}

void PluginMode::StartJobFor(const PluginSessionResult& result) {
  if (!result.has_action || !runner_) return;
  if (current_ && !Ready(current_->future)) superseded_.push_back(std::move(*current_));
  const uint32_t kind = result.action_kind;
  std::string payload = result.action_payload;
  ActionRunner runner = runner_;
  current_ = Job{kind, std::async(std::launch::async, [runner, kind, payload] {
                         return runner(kind, payload);
                       }).share()};
}

void PluginMode::ReapSuperseded() {
  superseded_.remove_if([](const Job& job) { return Ready(job.future); });
}

std::optional<PluginMode::FinishedJob> PluginMode::TakeFinishedJob() {
  if (!current_ || !Ready(current_->future)) return std::nullopt;
  FinishedJob done{current_->action_kind, current_->future.get()};
  current_.reset();
  return done;
}

void PluginMode::WaitForJobs() {
  if (current_) current_->future.wait();
  for (Job& job : superseded_) job.future.wait();
  current_.reset();
  superseded_.clear();
}

void PluginMode::FillReply(const PluginSessionResult& result, PipeResponse* reply) {
  CopyTextField(reply->preedit, result.preedit);
  reply->has_preedit = reply->preedit[0] != 0 ? 1 : 0;
  reply->cursor = reply->selection_start = reply->selection_end =
      static_cast<uint32_t>(TextFieldView(reply->preedit).size());
  reply->page_size = PluginSession::kPageSize;
  reply->page_number = result.page_index;
  reply->last_page = result.last_page ? 1 : 0;
  // The count word: the items of every page, so that the window shows paging past one page.
  reply->menu_count = result.page_count > 1 ? result.page_count * PluginSession::kPageSize
                                            : static_cast<uint32_t>(result.items.size());
  reply->highlighted = result.selection;
  uint32_t n = 0;
  for (const PluginItem& item : result.items) {
    if (n == kMaxCandidateSlots) break;
    CopyTextField(reply->candidates[n].text, item.text);
    CopyTextField(reply->candidates[n].comment, item.comment);
    ++n;
  }
  reply->candidate_count = n;
  if (result.commit && !result.commit_text.empty()) {
    reply->has_commit = 1;
    CopyTextField(reply->commit_text, result.commit_text);
  }
}

}  // namespace kavi::win
