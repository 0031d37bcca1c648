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

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/sha256.h"
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

// Says `words` with espeak-ng into a 16 kHz 16-bit mono WAV file (sox converts espeak-ng's
// 22.05 kHz with a proper filter: the capture's plain linear resampler blurs synthetic speech
// enough to change the words). pocketsphinx's English model hears the voice en-us+m3 reliably
// at 140 words a minute; at espeak-ng's default 175 "hello world" comes back "oh we're ill".
inline bool Speak(const std::string& words, const std::filesystem::path& wav) {
  const std::string command = "espeak-ng -v en-us+m3 -s 140 --stdout '" + words +
                              "' 2>/dev/null | sox -t wav - -r 16000 '" + wav.string() + "'";
  return std::system(command.c_str()) == 0;
}

// Installs the real test model as the "senseVoice" engine's model under `models_dir`, with a
// kept manifest that names its size and SHA-256.
inline void InstallRealModel(const std::filesystem::path& models_dir) {
  const std::filesystem::path folder = models_dir / "senseVoice";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(TestModel(), folder / "en-us.gguf",
                             std::filesystem::copy_options::overwrite_existing);
  std::string sha, error;
  ASSERT_TRUE(Sha256File(folder / "en-us.gguf", &sha, &error)) << error;
  WriteFile(models_dir / "manifest.json",
            "{\"models\": [{\"engine\": \"senseVoice\", \"files\": [{\"name\": \"en-us.gguf\", "
            "\"url\": \"https://models.invalid/en-us.gguf\", \"sha256\": \"" +
                sha + "\", \"bytes\": " +
                std::to_string(std::filesystem::file_size(folder / "en-us.gguf")) + "}]}]}");
}

}  // namespace kavi::win::testing
