// SPDX-License-Identifier: Apache-2.0
#include "platform/audio/alsa_device.h"

#include <alsa/asoundlib.h>

namespace kavi::win {
namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void SilenceAlsaDiagnostics() {
  snd_lib_error_set_handler(IgnoreAlsaMessage);
}

std::string AlsaFailure(const std::string& device, const char* call, int rc) {
  return device + ": " + call + ": " + snd_strerror(rc);
}

}  // namespace kavi::win
