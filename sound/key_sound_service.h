// SPDX-License-Identifier: Apache-2.0
// The key click sounds: eleven clips loaded once at start-up, all in one PCM format, played on a
// pool of eight voice slots that one mixer thread sums into a single output stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/audio/pcm_output.h"
#include "sound/key_sound_mixer.h"
#include "sound/sound_clip.h"

namespace kavi::win {

inline constexpr char kKeySoundFileExtension[] = ".caf";
// One mixer period: a click starts within this many frames of Play.
inline constexpr size_t kMixerPeriodFrames = 256;

class KeySoundService {
 public:
  // Plays through ALSA's default device.
  KeySoundService();
  // Plays through `output` (a test's recording stand-in, or another ALSA device).
  explicit KeySoundService(std::unique_ptr<PcmOutput> output);
  ~KeySoundService();
  KeySoundService(const KeySoundService&) = delete;
  KeySoundService& operator=(const KeySoundService&) = delete;

  // Loads every clip of the sound type table from <sounds_dir>/<type>.caf, then opens the output
  // and starts the mixer. On failure nothing is left running and *message says why.
  bool Initialize(const std::filesystem::path& sounds_dir, std::string* message);

  // Plays the named sound type at `volume` (clamped to 0..100) when the service is enabled.
  // True when a voice slot took it; a name outside the table, or eight clicks still sounding,
  // play nothing.
  bool Play(std::string_view type, int32_t volume);

  // Stops the mixer, drops every click and closes the output; Play then plays nothing.
  void Shutdown();

  bool enabled() const { return enabled_.load(std::memory_order_acquire); }
  // The index of a name in the sound type table, or -1.
  static int TypeIndex(std::string_view type);

 private:
  bool Play(int index, int32_t volume);
  void MixerLoop();

  std::unique_ptr<PcmOutput> output_;
  std::vector<SoundClip> clips_;
  std::unique_ptr<KeySoundMixer> mixer_;
  std::atomic<bool> enabled_{false};
  std::atomic<bool> stop_{false};
  // Bumped by every Play and by Shutdown; the idle mixer thread waits on it.
  std::atomic<uint32_t> wake_{0};
  std::thread thread_;

  friend class KeySoundPlayer;
};

}  // namespace kavi::win
