// SPDX-License-Identifier: Apache-2.0
#include "voice/voice_clock.h"

#include <chrono>

#include "platform/clock.h"

namespace kavi::win {
namespace {

class TickClock final : public VoiceClock {
 public:
  uint64_t NowMs() const override { return TickCount64(); }
  void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 uint64_t deadline_ms) const override {
    const uint64_t now = NowMs();
    if (deadline_ms <= now) return;
    cv.wait_for(lock, std::chrono::milliseconds(deadline_ms - now));
  }
};

}  // namespace

const VoiceClock& SystemVoiceClock() {
  static const TickClock clock;
  return clock;
}

}  // namespace kavi::win
