// SPDX-License-Identifier: Apache-2.0
// The optional cloud word service: counts what the user commits (words with their readings, and
// pairs of consecutive words), reports the counts in batches to Kavi's service, and keeps the
// service's hot words and word pairs loaded into the engine. One worker thread does the sending;
// pending.json keeps the queue so that nothing counted is lost across restarts, and a batch is
// on disk before it is sent, so that a crash never sends its counts twice under two ids.
//
// Locks: the engine lock (shared with the whole server) is taken before the state lock; the
// file lock only around writing pending.json. No lock is held across a network call; a
// generation counter, checked again after each call, drops answers that arrive after the
// manager was switched off or stopped.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/cloud_state.h"
#include "net/http_cancellation.h"
#include "net/kavi_api_client.h"
#include "ports/cloud_input_port.h"

namespace kavi::win {

// The engine keeps at most this many hot words from one snapshot.
inline constexpr size_t kMaxEngineHotWords = 5000;
inline constexpr int64_t kReportIntervalMs = 60000;
inline constexpr int64_t kSnapshotRefreshMs = 1800000;
// Commits are saved this long after the first of a burst.
inline constexpr int64_t kSaveDelayMs = 5000;

// How the manager reaches the service and the engine. Network callbacks run on the worker with
// no lock held and must honour the cancellation; engine callbacks run under the engine lock.
struct CloudCallbacks {
  std::function<bool(const CloudUploadBatch& batch, CloudReportResult* result, std::string* error,
                     HttpCancellation* cancellation)>
      report;
  std::function<bool(const std::string& stored_hash, CloudSnapshot<CloudHotItem>* snapshot,
                     std::string* error, HttpCancellation* cancellation)>
      fetch_hot;
  std::function<bool(const std::string& stored_hash, CloudSnapshot<CloudBigramItem>* snapshot,
                     std::string* error, HttpCancellation* cancellation)>
      fetch_bigram;
  // Replaces the engine's hot words; false when the engine refused them.
  std::function<bool(const std::vector<CloudHotItem>& words)> apply_hot;
  // Replaces the engine's word pairs (clear, add each, rebuild) in one hold of the engine lock.
  std::function<bool(const std::vector<CloudBigramItem>& pairs)> apply_bigram;
  // Clears both lists in the engine.
  std::function<void()> clear;
};

struct CloudInputOptions {
  std::filesystem::path directory;  // holds pending.json; created when missing
  CloudCallbacks callbacks;
  std::mutex* engine_lock = nullptr;  // required
  // Milliseconds of a monotonic clock; the tick count when empty.
  std::function<int64_t()> clock;
  // Ids for new batches; NewBatchId when empty.
  std::function<std::string()> new_batch_id;
};

class CloudInputManager final : public CloudInputPort {
 public:
  // Loads pending.json; a missing file is an empty state, an unreadable one is logged and
  // replaced by an empty state at the next save. The manager starts disabled.
  explicit CloudInputManager(CloudInputOptions options);
  // Shuts down when Shutdown was not called.
  ~CloudInputManager() override;
  CloudInputManager(const CloudInputManager&) = delete;
  CloudInputManager& operator=(const CloudInputManager&) = delete;

  // Starts the worker thread.
  void Start();
  // One commit: the committed text and the spelled-out input typed for it. Counted only while
  // enabled.
  void RecordCommit(const std::string& text, const std::string& expanded_input) override;
  void ClearContext() override;
  // Switches cloud input on or off. Off cancels a request in flight and forgets the previous
  // word; with `purge` it also discards every count and dead letter, removes pending.json and
  // clears the engine's cloud words (which also happens when already off). Callable with the
  // engine lock held only when `purge` is false.
  void SetEnabled(bool enabled, bool purge);
  // The engine lost its cloud words (it was restarted): load the snapshots again at once.
  void ReloadWordLists();
  // Stops the worker and writes the final state.
  void Shutdown();

  // One pass of the worker at the clock's time: the due save, then the report attempt and the
  // due refreshes; returns the time of the next due work. Tests that bring their own clock call
  // it instead of starting the thread.
  int64_t RunDueWork();

  bool enabled() const;
  CloudState StateSnapshot() const;

 private:
  // Serialised state to write, in the order taken.
  struct StateImage {
    uint64_t sequence = 0;  // 0: nothing to write
    std::string bytes;
    std::string batch_id;  // the batch in flight it holds
  };

  void WorkerLoop();
  int64_t Now() const { return clock_(); }
  // State lock held.
  bool Current(uint64_t generation) const;
  void ScheduleSave(int64_t due);
  StateImage TakeImage();
  int64_t NextDue() const;
  // No lock held.
  bool WriteImage(const StateImage& image, bool final_write);
  void SaveIfDue();
  void Report(uint64_t generation);
  void RefreshHot(uint64_t generation);
  void RefreshBigram(uint64_t generation);

  const std::filesystem::path file_;
  const CloudCallbacks callbacks_;
  std::mutex* const engine_lock_;
  const std::function<int64_t()> clock_;
  const std::function<std::string()> new_batch_id_;
  HttpCancellation cancellation_;

  mutable std::mutex state_mutex_;
  std::condition_variable wake_;
  CloudState state_;
  bool enabled_ = false;
  bool stopping_ = false;
  bool woken_ = false;
  bool dirty_ = false;
  // The batch in flight is on disk: only then may it be sent.
  bool inflight_on_disk_ = false;
  uint64_t generation_ = 0;
  std::string previous_text_;
  std::string hot_hash_;
  std::string bigram_hash_;
  int64_t report_due_ = -1;  // -1: not due
  int64_t hot_due_ = -1;
  int64_t bigram_due_ = -1;
  int64_t save_due_ = -1;
  uint64_t images_taken_ = 0;

  std::mutex file_mutex_;
  uint64_t images_written_ = 0;  // the sequence of the newest image on disk (or purged)

  std::thread worker_;
};

// Keeps the hot words the engine can use: one word per reading (the most frequent), readings of
// the letters a to z only, and of those the `limit` most frequent (chosen by selection, not by
// sorting the whole list).
void SelectHotWords(std::vector<CloudHotItem>* items, size_t limit);

}  // namespace kavi::win
