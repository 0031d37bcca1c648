// SPDX-License-Identifier: Apache-2.0
// A PcmOutput that keeps every frame written to it, for the key-sound tests and benchmarks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/pcm_output.h"

namespace kavi::win::testing {

class RecordingOutput final : public PcmOutput {
 public:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int16_t> samples;
    int pauses = 0;
    bool open_fails = false;
    uint32_t rate = 0;
    uint16_t channels = 0;
  };

  explicit RecordingOutput(Shared* shared) : shared_(shared) {}

  bool Open(uint32_t rate, uint16_t channels, size_t, std::string* message) override {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->open_fails) {
      *message = "no such device";
      return false;
    }
    shared_->rate = rate;
    shared_->channels = channels;
    return true;
  }
  bool Write(const int16_t* frames, size_t count) override {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->samples.insert(shared_->samples.end(), frames, frames + count * shared_->channels);
    shared_->changed.notify_all();
    return true;
  }
  void Pause() override {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->pauses;
    shared_->changed.notify_all();
  }

 private:
  Shared* shared_;
};

// Waits until the mixer has gone idle `pauses` times (every click so far has played out).
inline bool WaitForPauses(RecordingOutput::Shared* shared, int pauses) {
  std::unique_lock<std::mutex> lock(shared->mutex);
  return shared->changed.wait_for(lock, std::chrono::seconds(5),
                                  [&] { return shared->pauses >= pauses; });
}

}  // namespace kavi::win::testing
