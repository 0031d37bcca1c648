// SPDX-License-Identifier: Apache-2.0
#include "sound/key_sound_service.h"

#include <algorithm>
#include <chrono>
#include <span>

#include "config/config_record.h"
#include "platform/file_read.h"
#include "platform/log.h"
#include "sound/caf_file.h"

namespace kavi::win {

KeySoundService::KeySoundService() : KeySoundService(MakeAlsaOutput(kDefaultPcmDevice)) {}

KeySoundService::KeySoundService(std::unique_ptr<PcmOutput> output) : output_(std::move(output)) {}

KeySoundService::~KeySoundService() {
  Shutdown();
}

int KeySoundService::TypeIndex(std::string_view type) {
  const auto& types = AppOptions::kKeySoundTypes;
  const auto* found = std::find(std::begin(types), std::end(types), type);
  return found == std::end(types) ? -1 : static_cast<int>(found - std::begin(types));
}

bool KeySoundService::Initialize(const std::filesystem::path& sounds_dir, std::string* message) {
  Shutdown();
  std::vector<SoundClip> clips;
  for (std::string_view type : AppOptions::kKeySoundTypes) {
    std::string bytes;
    SoundClip clip;
    const std::filesystem::path path = sounds_dir / (std::string(type) + kKeySoundFileExtension);
    if (ReadRegularFile(path, kMaxCafFileBytes, &bytes) != ReadFileResult::kRead ||
        !ParseCaf(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), &clip,
                  nullptr)) {
      if (message) *message = "無法載入按鍵音：" + std::string(type);
      return false;
    }
    if (!clips.empty() && !clip.SameFormat(clips.front())) {
      if (message) *message = "按鍵音格式不一致";
      return false;
    }
    clips.push_back(std::move(clip));
  }

  const SoundClip& format = clips.front();
  std::string detail;
  if (!output_ ||
      !output_->Open(format.sample_rate, format.channels, kMixerPeriodFrames, &detail)) {
    if (message) *message = "ALSA 初始化失敗" + (detail.empty() ? "" : "：" + detail);
    return false;
  }
  clips_ = std::move(clips);
  mixer_ = std::make_unique<KeySoundMixer>(format.channels);
  stop_.store(false);
  try {
    thread_ = std::thread([this] { MixerLoop(); });
  } catch (const std::system_error&) {
    mixer_.reset();
    if (message) *message = "ALSA 音源建立失敗";
    return false;
  }
  enabled_.store(true, std::memory_order_release);
  if (message) message->clear();
  return true;
}

bool KeySoundService::Play(std::string_view type, int32_t volume) {
  return Play(TypeIndex(type), volume);
}

bool KeySoundService::Play(int index, int32_t volume) {
  if (index < 0 || !enabled_.load(std::memory_order_acquire)) return false;
  const float gain = static_cast<float>(std::clamp(volume, AppOptions::kMinKeySoundVolume,
                                                   AppOptions::kMaxKeySoundVolume)) /
                     static_cast<float>(AppOptions::kMaxKeySoundVolume);
  if (!mixer_->Start(clips_[static_cast<size_t>(index)], gain)) return false;
  wake_.fetch_add(1, std::memory_order_release);
  wake_.notify_one();
  return true;
}

void KeySoundService::Shutdown() {
  enabled_.store(false, std::memory_order_release);
  if (thread_.joinable()) {
    stop_.store(true);
    wake_.fetch_add(1, std::memory_order_release);
    wake_.notify_one();
    thread_.join();
  }
  if (mixer_) mixer_->StopAll();
}

void KeySoundService::MixerLoop() {
  const SoundClip& format = clips_.front();
  std::vector<int16_t> period(kMixerPeriodFrames * format.channels);
  const auto period_time = std::chrono::microseconds(uint64_t{kMixerPeriodFrames} * 1000000 /
                                                     std::max<uint32_t>(format.sample_rate, 1));
  bool streaming = false;
  bool output_failed = false;
  while (!stop_.load()) {
    const uint32_t seen = wake_.load(std::memory_order_acquire);
    if (!mixer_->AnyBusy()) {
      if (streaming) output_->Pause();
      streaming = false;
      // A Play between the load above and this wait has changed the counter: no wake is lost.
      wake_.wait(seen, std::memory_order_acquire);
      continue;
    }
    mixer_->Render(period.data(), kMixerPeriodFrames);
    if (output_failed) {
      // The device is gone: clicks still end on time, and nothing is written.
      std::this_thread::sleep_for(period_time);
      continue;
    }
    streaming = true;
    if (!output_->Write(period.data(), kMixerPeriodFrames)) {
      LogLine("[Kavi] 按鍵音輸出失敗\n");
      output_failed = true;
    }
  }
}

}  // namespace kavi::win
