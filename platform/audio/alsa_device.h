// SPDX-License-Identifier: Apache-2.0
// What the ALSA capture and playback streams share: the device name, quiet diagnostics and one
// form of failure message.
#pragma once

#include <string>

namespace kavi::win {

// The user's default sound device ("default"); "null" discards what is played and captures
// silence.
inline constexpr char kDefaultPcmDevice[] = "default";

// alsa-lib prints its own diagnostics to stderr; Kavi reports failures itself.
void SilenceAlsaDiagnostics();

// "<device>: <call>: <ALSA's text for rc>".
std::string AlsaFailure(const std::string& device, const char* call, int rc);

}  // namespace kavi::win
