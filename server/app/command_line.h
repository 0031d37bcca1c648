// SPDX-License-Identifier: Apache-2.0
// The server's command line: switches are found as substrings of the whole line.
#pragma once

#include <optional>
#include <string>

#include "protocol/pipe_records.h"

namespace kavi::win {

inline constexpr char kActivateProfileSwitch[] = "--activate-profile";
inline constexpr char kRemoveProfileSwitch[] = "--remove-profile";
inline constexpr char kBootstrapSwitch[] = "--bootstrap";
inline constexpr char kVoiceDeepLink[] = "kavi://voice";

struct CommandLine {
  enum class Mode { Serve, ActivateProfile, RemoveProfile };
  Mode mode = Mode::Serve;
  bool bootstrap = false;
  // The voice command of a "kavi://voice" deep link: start, stop, cancel or toggle.
  std::optional<RequestKind> voice_kind;
};

CommandLine ParseCommandLine(const std::string& whole_line);
// The arguments after the program name joined by single spaces.
std::string JoinArguments(int argc, char** argv);

}  // namespace kavi::win
