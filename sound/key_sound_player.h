// SPDX-License-Identifier: Apache-2.0
// What client sessions reach: the click of each key press under the user's key-sound settings,
// and the named sounds of request kind 19.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "ports/key_sound_port.h"
#include "sound/key_sound_service.h"

namespace kavi::win {

class KeySoundPlayer final : public KeySoundPort {
 public:
  explicit KeySoundPlayer(KeySoundService* service) : service_(service) {}

  // The "key_sound", "key_sound_type" and "key_sound_volume" settings, at start-up and on every
  // configuration change. An unknown type plays the default one.
  void ApplySettings(bool key_sound, std::string_view type, int32_t volume);

  // Plays the configured sound when key sounds are on.
  void PlayKey(uint32_t keysym) override;
  // Plays the named sound at the argument as a volume (a signed number), whatever the key-sound
  // switch says: the settings application previews sounds this way.
  bool Play(const std::string& name, uint32_t argument) override;

 private:
  KeySoundService* service_;
  std::atomic<bool> key_sound_{false};
  std::atomic<int> type_index_{0};
  std::atomic<int32_t> volume_{0};
};

}  // namespace kavi::win
