// SPDX-License-Identifier: Apache-2.0
// What the voice tests share: clocks they control, fake helper scripts signed with the project
// test key, and the paths of the real helper and model.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/signature/detached_signature.h"
#include "tests/common/temp_dir.h"
#include "tests/voice/test_signers.h"
#include "voice/voice_clock.h"

namespace kavi::win::testing {

// Real time, sped up: a 30-second time-out passes in `speedup`-th of that.
class FastClock final : public VoiceClock {
 public:
  explicit FastClock(uint64_t speedup) : speedup_(speedup), start_(TickCount64()) {}
  uint64_t NowMs() const override { return (TickCount64() - start_) * speedup_; }
  void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 uint64_t deadline_ms) const override {
    const uint64_t now = NowMs();
    if (deadline_ms > now)
      cv.wait_for(lock, std::chrono::milliseconds((deadline_ms - now) / speedup_ + 1));
  }

 private:
  const uint64_t speedup_;
  const uint64_t start_;
};

// Time that moves only when the test says so. Waiters look again every few real milliseconds.
class ManualClock final : public VoiceClock {
 public:
  uint64_t NowMs() const override { return now_; }
  void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 uint64_t deadline_ms) const override {
    if (deadline_ms > now_) cv.wait_for(lock, std::chrono::milliseconds(2));
  }
  void Advance(uint64_t ms) { now_ += ms; }

 private:
  std::atomic<uint64_t> now_{1000000};
};

// Writes an executable shell script and its signature by the project test key.
inline std::filesystem::path SignedScript(const std::filesystem::path& path,
                                          const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  std::string error;
  const SignerFiles signer = ProjectTestSigner();
  EXPECT_TRUE(SignDetached(path, signer.certificate, signer.key, path.string() + kSignatureSuffix,
                           &error))
      << error;
  return path;
}

// Waits until the process is gone or a zombie (at most 10 s).
inline bool ProcessGone(pid_t pid) {
  for (int i = 0; i < 2000; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pid_field, name, state;
    if (!(stat >> pid_field >> name >> state) || state == "Z") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

inline std::filesystem::path RealHelper() {
  return std::filesystem::path(KAVI_BINARY_DIR) / "bin" / "kavi-voice-ggml";
}
inline std::filesystem::path TestModel() {
  return std::filesystem::path(KAVI_BINARY_DIR) / "voice" / "en-us.gguf";
}

}  // namespace kavi::win::testing
