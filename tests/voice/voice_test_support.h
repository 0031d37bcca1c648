// SPDX-License-Identifier: Apache-2.0
// What the voice tests share: clocks they control, fake helper scripts signed with the project
// test key, the paths of the real helper and model, model manifests, kavi-service on loopback,
// and waiting for what other threads report.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/service_endpoints.h"
#include "net/sha256.h"
#include "platform/clock.h"
#include "platform/signature/detached_signature.h"
#include "tests/common/kavi_service_process.h"
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
  EXPECT_TRUE(
      SignDetached(path, signer.certificate, signer.key, path.string() + kSignatureSuffix, &error))
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

// A manifest naming one model file for each of `engines`.
inline std::string ManifestJson(const std::vector<std::string>& engines, const std::string& name,
                                const std::string& url, const std::string& sha256, uint64_t bytes) {
  std::string models;
  for (const std::string& engine : engines)
    models +=
        (models.empty() ? "" : ", ") +
        ("{\"engine\": \"" + engine + "\", \"files\": [{\"name\": \"" + name + "\", \"url\": \"" +
         url + "\", \"sha256\": \"" + sha256 + "\", \"bytes\": " + std::to_string(bytes) + "}]}");
  return "{\"_res\": \"ok\", \"models\": [" + models + "]}";
}

// Installs the real test model as the "senseVoice" engine's model under `models_dir`, with a
// kept manifest that names its size and SHA-256.
inline void InstallRealModel(const std::filesystem::path& models_dir) {
  const std::filesystem::path model = models_dir / "senseVoice" / "en-us.gguf";
  std::filesystem::create_directories(model.parent_path());
  std::filesystem::copy_file(TestModel(), model, std::filesystem::copy_options::overwrite_existing);
  std::string sha, error;
  ASSERT_TRUE(Sha256File(model, &sha, &error)) << error;
  WriteFile(models_dir / "manifest.json",
            ManifestJson({"senseVoice"}, "en-us.gguf", "https://models.invalid/en-us.gguf", sha,
                         std::filesystem::file_size(model)));
}

// kavi-service for the voice tests, started on first use: the model manifest at
// "/voice/models" is the file VoiceService().home() / "voice-models" / "index.json".
inline KaviServiceProcess& VoiceService() {
  static KaviServiceProcess* service = [] {
    auto* started = new KaviServiceProcess();
    std::filesystem::create_directories(started->home() / "voice-models");
    started->AddStaticTree("/voice/models", started->home() / "voice-models");
    EXPECT_TRUE(started->Start());
    std::atexit([] { VoiceService().Stop(); });
    return started;
  }();
  return *service;
}
inline ServiceEndpoints VoiceServiceEndpoints() {
  ServiceEndpoints endpoints;
  endpoints.service_base_url = VoiceService().base_url();
  endpoints.extra_ca_bundle = VoiceService().certificates().ca;
  return endpoints;
}

// Whether `condition` came true within `seconds` (looked at every 5 ms).
inline bool Eventually(const std::function<bool()>& condition, int seconds = 30) {
  for (int i = 0; i < seconds * 200; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// What another thread reported through a callback, in order, waited for.
template <typename Report>
class Reports {
 public:
  void Add(Report report) {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back(std::move(report));
    changed_.notify_all();
  }
  std::vector<Report> WaitFor(size_t count, int seconds = 60) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return seen_.size() >= count; });
    return seen_;
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> seen_;
};

// One report of the capture's start notification or the controller's completion notifier.
struct Reported {
  uint64_t id = 0;
  bool ok = false;
  std::string text;
  bool origin = false;
};

}  // namespace kavi::win::testing
