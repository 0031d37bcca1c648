// SPDX-License-Identifier: Apache-2.0
// From the second F8 to the text, for a 3-second utterance: espeak-ng's "hello world, how are
// you today" (2.6 s of speech, then silence) as a 48 kHz mono microphone would deliver it, the real
// signed kavi-voice-ggml with pocketsphinx and the packed Debian model, and polishing by
// kavi-service on loopback.
// - BM_StopToText: the helper already running. wav_ms is the end of the capture, the 48 to
//   16 kHz resampling and the WAV file; helper_ms the request line to the reply line (the
//   decoding of 3 s of speech); polish_ms POST /voice/polish over a fresh TLS connection, as each
//   transcription job makes one.
// - BM_FirstRequest: the same with a helper that has to start first (spawn, signature check,
//   model load, READY): its helper_ms includes the start.
// - BM_ControllerStopToText: the whole path through VoiceController, from Dispatch(stop) to the
//   completion notifier (the model's size and digest check, the job thread and the text tidying
//   on top of the three parts above).
//
//   build/bench/voice/kavi_voice_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "net/kavi_api_client.h"
#include "net/sha256.h"
#include "tests/common/kavi_service_process.h"
#include "tests/voice/scripted_capture.h"
#include "voice/microphone_capture.h"
#include "voice/voice_controller.h"
#include "voice/voice_helper.h"
#include "voice/wav_file.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kDeviceRate = 48000;
constexpr char kWords[] = "hello world, how are you today";

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

fs::path Helper() {
  return fs::path(KAVI_BINARY_DIR) / "bin" / kVoiceHelperProgram;
}
fs::path Anchors() {
  return fs::path(KAVI_SOURCE_DIR) / "data" / "trust-anchors";
}

// The service, the utterance and an installed model, once for the whole run.
struct Fixture {
  KaviServiceProcess service;
  TempDir dir;
  PcmWav utterance;  // 3.000 s at 48 kHz
  fs::path models = dir.path() / "models";
  std::string error;

  Fixture() {
    const fs::path raw = dir.path() / "espeak.wav";
    const fs::path spoken = dir.path() / "spoken.wav";
    const std::string command = "espeak-ng -v en-us+m3 -s 140 -w '" + raw.string() + "' '" +
                                kWords + "' && sox '" + raw.string() + "' -r " +
                                std::to_string(kDeviceRate) + " '" + spoken.string() +
                                "' pad 0 3 trim 0 3";
    if (std::system(command.c_str()) != 0) {
      error = "espeak-ng or sox failed";
      return;
    }
    if (!DecodePcmWav(ReadFile(spoken), &utterance, &error)) return;
    const fs::path model = models / kSenseVoiceEngine / "en-us.gguf";
    fs::create_directories(model.parent_path());
    fs::copy_file(fs::path(KAVI_BINARY_DIR) / "voice" / "en-us.gguf", model);
    std::string sha;
    Sha256File(model, &sha, &error);
    WriteFile(models / kManifestFileName,
              "{\"models\": [{\"engine\": \"senseVoice\", \"files\": [{\"name\": \"en-us.gguf\", "
              "\"url\": \"https://models.invalid/en-us.gguf\", \"sha256\": \"" +
                  sha + "\", \"bytes\": " + std::to_string(fs::file_size(model)) + "}]}]}");
    if (!service.Start()) error = "kavi-service did not start";
  }
  ServiceEndpoints Endpoints() const {
    ServiceEndpoints endpoints;
    endpoints.service_base_url = service.base_url();
    endpoints.extra_ca_bundle = service.certificates().ca;
    return endpoints;
  }
  fs::path Model() const { return models / kSenseVoiceEngine / "en-us.gguf"; }
};

Fixture& Shared() {
  static Fixture* fixture = new Fixture();
  return *fixture;
}

// A microphone stand-in that delivers the whole utterance at once, in 10 ms packets.
std::shared_ptr<CaptureScript> Utterance() {
  return PlayWav(Shared().utterance);
}

// Records the utterance and returns once every packet is taken: the moment of the stop.
bool Record(MicrophoneCapture& capture, const std::shared_ptr<CaptureScript>& script) {
  std::string error;
  if (!capture.Start(
          1, [](uint64_t, bool, const std::string&) {}, &error))
    return false;
  for (int i = 0; i < 10000; ++i) {
    {
      std::lock_guard<std::mutex> lock(script->mutex);
      if (script->packets.empty()) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

struct Split {
  double wav_ms = 0, helper_ms = 0, polish_ms = 0;
};

// One stop: the WAV file, the helper's reply and the polished text, each timed.
bool StopToText(VoiceHelper& helper, Split* split, std::string* error) {
  Fixture& fixture = Shared();
  auto script = Utterance();
  MicrophoneCapture capture(ScriptedFactory(script));
  if (!Record(capture, script)) {
    *error = "the recording did not run";
    return false;
  }
  const fs::path wav = fixture.dir.path() / "voice-1.wav";
  auto start = Clock::now();
  if (!capture.StopAndSave(wav, error)) return false;
  split->wav_ms += MsSince(start);
  start = Clock::now();
  std::string text;
  if (!helper.Transcribe(Helper(), kSenseVoiceEngineWord, fixture.Model(), wav, kAutoLanguage,
                         &text, error))
    return false;
  split->helper_ms += MsSince(start);
  if (text.find("hello") == std::string::npos) {
    *error = "heard \"" + text + "\"";
    return false;
  }
  start = Clock::now();
  const ServiceEndpoints endpoints = fixture.Endpoints();
  HttpClientOptions options;
  options.extra_ca_bundle = endpoints.extra_ca_bundle;
  const WinHttpClient http(options);
  const KaviApiClient api(http, endpoints.service_base_url);
  std::string polished;
  if (!api.PolishVoiceText(text, VoicePolishOptions{}, &polished, error)) return false;
  split->polish_ms += MsSince(start);
  fs::remove(wav);
  return true;
}

// The seconds one stop added to the running sums.
double Seconds(const Split& before, const Split& after) {
  return (after.wav_ms + after.helper_ms + after.polish_ms - before.wav_ms - before.helper_ms -
          before.polish_ms) /
         1000;
}

void Report(benchmark::State& state, const Split& split) {
  const double runs = static_cast<double>(state.iterations());
  state.counters["wav_ms"] = split.wav_ms / runs;
  state.counters["helper_ms"] = split.helper_ms / runs;
  state.counters["polish_ms"] = split.polish_ms / runs;
  state.counters["total_ms"] = (split.wav_ms + split.helper_ms + split.polish_ms) / runs;
}

void BM_StopToText(benchmark::State& state) {
  Fixture& fixture = Shared();
  if (!fixture.error.empty()) return state.SkipWithError(fixture.error.c_str());
  VoiceHelper helper(fixture.dir.path() / "logs", {Anchors()});
  Split warm_up, split;
  std::string error;
  if (!StopToText(helper, &warm_up, &error)) return state.SkipWithError(error.c_str());
  for (auto _ : state) {
    const Split before = split;
    if (!StopToText(helper, &split, &error)) return state.SkipWithError(error.c_str());
    state.SetIterationTime(Seconds(before, split));
  }
  Report(state, split);
}
BENCHMARK(BM_StopToText)->Iterations(5)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_FirstRequest(benchmark::State& state) {
  Fixture& fixture = Shared();
  if (!fixture.error.empty()) return state.SkipWithError(fixture.error.c_str());
  VoiceHelper helper(fixture.dir.path() / "logs", {Anchors()});
  Split split;
  std::string error;
  for (auto _ : state) {
    helper.Stop();  // the next request starts it again
    const Split before = split;
    if (!StopToText(helper, &split, &error)) return state.SkipWithError(error.c_str());
    state.SetIterationTime(Seconds(before, split));
  }
  Report(state, split);
}
BENCHMARK(BM_FirstRequest)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

// What the completion notifier was given.
struct Delivered {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
  bool ok = false;
  std::string text;
};

void BM_ControllerStopToText(benchmark::State& state) {
  Fixture& fixture = Shared();
  if (!fixture.error.empty()) return state.SkipWithError(fixture.error.c_str());
  Delivered delivered;
  std::shared_ptr<CaptureScript> script;
  VoiceControllerOptions options;
  options.program_dir = Helper().parent_path();
  options.models_dir = fixture.models;
  options.temp_dir = fixture.dir.path() / "voice-temp";
  options.log_dir = fixture.dir.path() / "logs";
  options.trust_anchors = {Anchors()};
  options.service = [&] { return fixture.Endpoints(); };
  options.notifier = [&](bool ok, const std::string& text, bool) {
    std::lock_guard<std::mutex> lock(delivered.mutex);
    ++delivered.count;
    delivered.ok = ok;
    delivered.text = text;
    delivered.changed.notify_all();
  };
  options.microphone = [&] { return std::make_unique<ScriptedCaptureStream>(script); };
  VoiceController controller(std::move(options));
  ConfigRecord config;
  config.app.voice_polish = true;
  controller.UpdateConfig(config);
  // One dictation, timed from the stop to the notifier.
  const auto dictate = [&](double* ms, std::string* error) {
    script = Utterance();
    if (!controller.Dispatch(static_cast<int>(VoiceAction::kStart), false, error)) return false;
    const auto started = Clock::now();
    for (int i = 0; i < 10000; ++i) {
      bool taken;
      {
        std::lock_guard<std::mutex> lock(script->mutex);
        taken = script->packets.empty();
      }
      if (taken && controller.Status() == static_cast<uint32_t>(VoiceStatus::kRecording)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The packets arrive at once; a recording must still last the minimum length.
    std::this_thread::sleep_until(started + std::chrono::milliseconds(kMinRecordingMs + 20));
    std::unique_lock<std::mutex> lock(delivered.mutex);
    const int before = delivered.count;
    const auto stop = Clock::now();
    lock.unlock();
    if (!controller.Dispatch(static_cast<int>(VoiceAction::kStop), false, error)) return false;
    lock.lock();
    delivered.changed.wait_for(lock, std::chrono::seconds(60),
                               [&] { return delivered.count > before; });
    *ms += MsSince(stop);
    if (delivered.count == before || !delivered.ok ||
        delivered.text.find("hello") == std::string::npos) {
      *error = "delivered \"" + delivered.text + "\"";
      return false;
    }
    return true;
  };
  std::string error;
  double first_ms = 0, ms = 0;
  if (!dictate(&first_ms, &error)) return state.SkipWithError(error.c_str());
  for (auto _ : state) {
    const double before = ms;
    if (!dictate(&ms, &error)) return state.SkipWithError(error.c_str());
    state.SetIterationTime((ms - before) / 1000);
  }
  state.counters["first_ms"] = first_ms;
  state.counters["stop_to_text_ms"] = ms / static_cast<double>(state.iterations());
  controller.Shutdown();
}
BENCHMARK(BM_ControllerStopToText)->Iterations(5)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace kavi::win::testing

BENCHMARK_MAIN();
