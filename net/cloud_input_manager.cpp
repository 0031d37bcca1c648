// SPDX-License-Identifier: Apache-2.0
#include "net/cloud_input_manager.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <unordered_map>

#include "net/cloud_batches.h"
#include "platform/clock.h"
#include "platform/file_read.h"
#include "platform/log.h"

namespace kavi::win {
namespace {

// Log lines say what happened, never what was typed.
constexpr char kLoadFailedLog[] = "[Kavi] 雲輸入狀態解析失敗：";
constexpr char kWriteFailedLog[] = "[Kavi] 雲輸入狀態寫入失敗\n";
constexpr char kFinalWriteFailedLog[] = "[Kavi] 雲輸入最終狀態寫入失敗\n";
constexpr char kReportFailedLog[] = "[Kavi] 雲輸入批次上報未成功\n";
constexpr char kHotFetchFailedLog[] = "[Kavi] 雲端熱詞刷新失敗\n";
constexpr char kBigramFetchFailedLog[] = "[Kavi] 雲端詞對刷新失敗\n";
constexpr char kHotApplyFailedLog[] = "[Kavi] 雲端熱詞寫入引擎失敗\n";
constexpr char kBigramApplyFailedLog[] = "[Kavi] 雲端詞對寫入引擎失敗\n";

// Four full maps of long keys stay far below this.
constexpr uintmax_t kMaxStateFileBytes = 16u << 20;
constexpr int64_t kMaxWaitMs = 24LL * 60 * 60 * 1000;

int64_t EarliestOf(int64_t a, int64_t b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

// The tick count restarts at boot, but the file keeps the times of the boot that wrote it: a
// time further ahead than any rule could set it belongs to an earlier boot and is brought back.
void BringTimesIntoThisBoot(CloudState* state, int64_t now) {
  if (state->last_send_ms > now) state->last_send_ms = now;
  state->rate_limited_until_ms = std::min(state->rate_limited_until_ms, now + kQuietAfterAcceptMs);
}

}  // namespace

void SelectHotWords(std::vector<CloudHotItem>* items, size_t limit) {
  std::erase_if(*items, [](const CloudHotItem& item) { return !IsReportedReading(item.reading); });
  // The engine keys hot words by reading: of several words for one reading, the most frequent.
  std::vector<bool> keep(items->size(), false);
  {
    std::unordered_map<std::string_view, size_t> best;
    best.reserve(items->size());
    for (size_t i = 0; i < items->size(); ++i) {
      auto [it, inserted] = best.try_emplace((*items)[i].reading, i);
      if (!inserted && (*items)[i].frequency > (*items)[it->second].frequency) it->second = i;
    }
    for (const auto& entry : best) keep[entry.second] = true;
  }
  std::vector<CloudHotItem> kept;
  kept.reserve(items->size());
  for (size_t i = 0; i < items->size(); ++i) {
    if (keep[i]) kept.push_back(std::move((*items)[i]));
  }
  if (kept.size() > limit) {
    std::nth_element(
        kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(limit), kept.end(),
        [](const CloudHotItem& a, const CloudHotItem& b) { return a.frequency > b.frequency; });
    kept.resize(limit);
  }
  *items = std::move(kept);
}

CloudInputManager::CloudInputManager(CloudInputOptions options)
    : file_(options.directory / kCloudStateFileName),
      callbacks_(std::move(options.callbacks)),
      engine_lock_(options.engine_lock),
      clock_(options.clock ? std::move(options.clock)
                           : [] { return static_cast<int64_t>(TickCount64()); }),
      new_batch_id_(options.new_batch_id ? std::move(options.new_batch_id) : NewBatchId) {
  std::error_code ignored;
  std::filesystem::create_directories(options.directory, ignored);
  std::string text, error;
  int read_error = 0;
  switch (ReadRegularFile(file_, kMaxStateFileBytes, &text, &read_error)) {
    case ReadFileResult::kRead:
      break;
    case ReadFileResult::kCannotOpen:
      if (read_error == ENOENT) return;  // nothing counted yet
      [[fallthrough]];
    case ReadFileResult::kUnreadable:
      error = std::generic_category().message(read_error);
      break;
  }
  CloudState loaded;
  if (!error.empty() || !ParseCloudState(text, &loaded, &error)) {
    LogLine(kLoadFailedLog + error + "\n");
    // The next save replaces the unusable file with the empty state.
    dirty_ = true;
    return;
  }
  BringTimesIntoThisBoot(&loaded, Now());
  state_ = std::move(loaded);
  inflight_on_disk_ = state_.has_inflight();
}

CloudInputManager::~CloudInputManager() {
  Shutdown();
}

void CloudInputManager::Start() {
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (worker_.joinable() || stopping_) return;
  worker_ = std::thread([this] { WorkerLoop(); });
}

void CloudInputManager::RecordCommit(const std::string& text, const std::string& expanded_input) {
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (!enabled_) return;
  if (!CountCommit(&state_, &previous_text_, expanded_input, text)) return;
  dirty_ = true;
  // The first commit of a burst sets the save; the rest ride on it, so a crash loses at most
  // the last few seconds of counts.
  if (save_due_ < 0) {
    save_due_ = Now() + kSaveDelayMs;
    woken_ = true;
    wake_.notify_one();
  }
}

void CloudInputManager::ClearContext() {
  std::lock_guard<std::mutex> hold(state_mutex_);
  previous_text_.clear();
}

void CloudInputManager::SetEnabled(bool enabled, bool purge) {
  uint64_t purged_image = 0;
  {
    std::unique_lock<std::mutex> engine;
    if (purge) engine = std::unique_lock<std::mutex>(*engine_lock_);
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (stopping_ || (enabled == enabled_ && !purge)) return;
    ++generation_;
    const int64_t now = Now();
    if (enabled) {
      cancellation_.Rearm();
      enabled_ = true;
      report_due_ = hot_due_ = bigram_due_ = now;
    } else {
      cancellation_.Cancel();
      enabled_ = false;
      previous_text_.clear();
      report_due_ = hot_due_ = bigram_due_ = -1;
      if (purge) {
        const CloudState kept_times = state_;
        state_ = CloudState{};
        state_.last_send_ms = kept_times.last_send_ms;
        state_.rate_limited_until_ms = kept_times.rate_limited_until_ms;
        inflight_on_disk_ = false;
        dirty_ = false;
        save_due_ = -1;
        purged_image = ++images_taken_;
        hot_hash_.clear();
        bigram_hash_.clear();
        if (callbacks_.clear) callbacks_.clear();
      } else {
        dirty_ = true;
        save_due_ = now;
      }
    }
    woken_ = true;
    wake_.notify_one();
  }
  if (purged_image != 0) {
    // Every image taken before the purge is stale: none may bring the counts back.
    std::lock_guard<std::mutex> file(file_mutex_);
    images_written_ = std::max(images_written_, purged_image);
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
  }
}

void CloudInputManager::ReloadWordLists() {
  std::lock_guard<std::mutex> hold(state_mutex_);
  hot_hash_.clear();
  bigram_hash_.clear();
  if (!enabled_) return;
  hot_due_ = bigram_due_ = Now();
  woken_ = true;
  wake_.notify_one();
}

void CloudInputManager::Shutdown() {
  StateImage image;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (stopping_) return;
    stopping_ = true;
    ++generation_;
    enabled_ = false;
    previous_text_.clear();
    image = TakeImage();
    cancellation_.Cancel();
    woken_ = true;
    wake_.notify_one();
  }
  if (worker_.joinable()) worker_.join();
  if (image.sequence != 0) WriteImage(image, /*final_write=*/true);
}

bool CloudInputManager::enabled() const {
  std::lock_guard<std::mutex> hold(state_mutex_);
  return enabled_;
}

CloudState CloudInputManager::StateSnapshot() const {
  std::lock_guard<std::mutex> hold(state_mutex_);
  return state_;
}

bool CloudInputManager::Current(uint64_t generation) const {
  return enabled_ && !stopping_ && generation == generation_;
}

void CloudInputManager::ScheduleSave(int64_t due) {
  dirty_ = true;
  save_due_ = EarliestOf(save_due_, due);
}

CloudInputManager::StateImage CloudInputManager::TakeImage() {
  if (!dirty_) return {};
  dirty_ = false;
  save_due_ = -1;
  return {++images_taken_, SerializeCloudState(state_), state_.inflight_batch_id};
}

int64_t CloudInputManager::NextDue() const {
  int64_t due = save_due_;
  if (enabled_) due = EarliestOf(EarliestOf(due, report_due_), EarliestOf(hot_due_, bigram_due_));
  return due;
}

bool CloudInputManager::WriteImage(const StateImage& image, bool final_write) {
  bool written = false;
  {
    std::lock_guard<std::mutex> file(file_mutex_);
    // A newer image (or a purge) is already on disk.
    if (image.sequence <= images_written_) return true;
    written = WriteCloudStateFile(file_, image.bytes);
    if (written) images_written_ = image.sequence;
  }
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (written) {
    if (!image.batch_id.empty() && image.batch_id == state_.inflight_batch_id)
      inflight_on_disk_ = true;
    return true;
  }
  LogLine(final_write ? kFinalWriteFailedLog : kWriteFailedLog);
  // Unless a newer image is on its way, the state still differs from the disk.
  if (image.sequence == images_taken_ && !stopping_) ScheduleSave(Now() + kSaveDelayMs);
  return false;
}

void CloudInputManager::SaveIfDue() {
  StateImage image;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (save_due_ < 0 || Now() < save_due_) return;
    image = TakeImage();
  }
  if (image.sequence != 0) WriteImage(image, /*final_write=*/false);
}

int64_t CloudInputManager::RunDueWork() {
  SaveIfDue();
  bool report = false, hot = false, bigram = false;
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    const int64_t now = Now();
    generation = generation_;
    if (enabled_ && !stopping_) {
      if (report_due_ >= 0 && now >= report_due_) {
        report_due_ = now + kReportIntervalMs;
        if (!state_.has_inflight() && TakeNewBatch(&state_, now, new_batch_id_())) {
          inflight_on_disk_ = false;
          ScheduleSave(now);
        }
        report = state_.has_inflight() && now >= state_.rate_limited_until_ms;
      }
      if (hot_due_ >= 0 && now >= hot_due_) {
        hot_due_ = now + kSnapshotRefreshMs;
        hot = true;
      }
      if (bigram_due_ >= 0 && now >= bigram_due_) {
        bigram_due_ = now + kSnapshotRefreshMs;
        bigram = true;
      }
    }
  }
  if (report) Report(generation);
  if (hot) RefreshHot(generation);
  if (bigram) RefreshBigram(generation);
  SaveIfDue();
  std::lock_guard<std::mutex> hold(state_mutex_);
  return NextDue();
}

void CloudInputManager::Report(uint64_t generation) {
  // A batch goes out only once it is on disk: were the process to die after sending it, the
  // next start sends it again under the same id, which the service counts once.
  SaveIfDue();
  CloudUploadBatch batch;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (!Current(generation) || !state_.has_inflight() || !inflight_on_disk_) return;
    batch = InflightBatch(state_);
  }
  CloudReportResult result;
  std::string error;
  const bool answered = callbacks_.report(batch, &result, &error, &cancellation_);
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (!Current(generation) || state_.inflight_batch_id != batch.batch_id) return;
  if (!answered) {
    // No answer at all (no network, a time-out): the batch stays in flight as it was, without
    // spending a retry, since the service may never have seen it.
    LogLine(kReportFailedLog);
    return;
  }
  const ReportEffect effect = ApplyReportResult(&state_, result, Now());
  if (effect != ReportEffect::kAccepted) LogLine(kReportFailedLog);
  ScheduleSave(Now());
}

void CloudInputManager::RefreshHot(uint64_t generation) {
  std::string hash;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (!Current(generation)) return;
    hash = hot_hash_;
  }
  CloudSnapshot<CloudHotItem> snapshot;
  std::string error;
  if (!callbacks_.fetch_hot(hash, &snapshot, &error, &cancellation_)) {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (Current(generation)) LogLine(kHotFetchFailedLog);
    return;
  }
  if (snapshot.not_modified) return;
  SelectHotWords(&snapshot.items, kMaxEngineHotWords);
  std::lock_guard<std::mutex> engine(*engine_lock_);
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (!Current(generation)) return;
  if (callbacks_.apply_hot(snapshot.items))
    hot_hash_ = snapshot.hash;
  else
    LogLine(kHotApplyFailedLog);
}

void CloudInputManager::RefreshBigram(uint64_t generation) {
  std::string hash;
  {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (!Current(generation)) return;
    hash = bigram_hash_;
  }
  CloudSnapshot<CloudBigramItem> snapshot;
  std::string error;
  if (!callbacks_.fetch_bigram(hash, &snapshot, &error, &cancellation_)) {
    std::lock_guard<std::mutex> hold(state_mutex_);
    if (Current(generation)) LogLine(kBigramFetchFailedLog);
    return;
  }
  if (snapshot.not_modified) return;
  std::lock_guard<std::mutex> engine(*engine_lock_);
  std::lock_guard<std::mutex> hold(state_mutex_);
  if (!Current(generation)) return;
  if (callbacks_.apply_bigram(snapshot.items))
    bigram_hash_ = snapshot.hash;
  else
    LogLine(kBigramApplyFailedLog);
}

void CloudInputManager::WorkerLoop() {
  for (;;) {
    RunDueWork();
    std::unique_lock<std::mutex> hold(state_mutex_);
    if (stopping_) return;
    const int64_t next = NextDue();
    const int64_t wait_ms =
        next < 0 ? kMaxWaitMs : std::clamp<int64_t>(next - Now(), 0, kMaxWaitMs);
    if (wait_ms > 0 && !woken_)
      wake_.wait_for(hold, std::chrono::milliseconds(wait_ms), [this] { return woken_; });
    woken_ = false;
    if (stopping_) return;
  }
}

}  // namespace kavi::win
