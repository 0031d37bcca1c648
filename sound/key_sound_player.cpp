// SPDX-License-Identifier: Apache-2.0
#include "sound/key_sound_player.h"

namespace kavi::win {

void KeySoundPlayer::ApplySettings(bool key_sound, std::string_view type, int32_t volume) {
  const int index = KeySoundService::TypeIndex(type);
  type_index_.store(index < 0 ? 0 : index, std::memory_order_relaxed);
  volume_.store(volume, std::memory_order_relaxed);
  key_sound_.store(key_sound, std::memory_order_release);
}

void KeySoundPlayer::PlayKey(uint32_t) {
  if (!key_sound_.load(std::memory_order_acquire)) return;
  service_->Play(type_index_.load(std::memory_order_relaxed),
                 volume_.load(std::memory_order_relaxed));
}

bool KeySoundPlayer::Play(const std::string& name, uint32_t argument) {
  return service_->Play(std::string_view(name), static_cast<int32_t>(argument));
}

}  // namespace kavi::win
