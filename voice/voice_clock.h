// SPDX-License-Identifier: Apache-2.0
// The millisecond clock of the voice rules (the 280 ms minimum, the idle stop, the helper's
// time-outs), injectable so that tests can move time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kavi::win {

class VoiceClock {
 public:
  virtual ~VoiceClock() = default;
  virtual uint64_t NowMs() const = 0;
  // Waits on `cv` (with `lock` held) until it is notified or the clock reaches `deadline_ms`.
  // May return early: callers check their condition and the time again.
  virtual void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         uint64_t deadline_ms) const = 0;
};

// The 64-bit tick count.
const VoiceClock& SystemVoiceClock();

}  // namespace kavi::win
