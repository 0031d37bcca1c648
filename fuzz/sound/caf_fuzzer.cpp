// SPDX-License-Identifier: Apache-2.0
// Key sound files come from the install directory, which a user or a package may replace: the
// CAF reader must refuse any bytes cleanly.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "sound/caf_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kavi::win::SoundClip clip;
  std::string message;
  if (kavi::win::ParseCaf(std::span(data, size), &clip, &message)) {
    if (clip.samples.empty() || clip.samples.size() % clip.channels != 0) __builtin_trap();
    // What the writer makes of a parsed clip reads back as the same clip.
    kavi::win::SoundClip again;
    if (!kavi::win::ParseCaf(kavi::win::WriteCaf(clip), &again, &message) ||
        again.samples != clip.samples || !again.SameFormat(clip))
      __builtin_trap();
  } else if (message.empty()) {
    __builtin_trap();
  }
  return 0;
}
