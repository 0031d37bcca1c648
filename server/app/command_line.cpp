// SPDX-License-Identifier: Apache-2.0
#include "server/app/command_line.h"

namespace kavi::win {

CommandLine ParseCommandLine(const std::string& line) {
  CommandLine out;
  auto has = [&line](const char* s) { return line.find(s) != std::string::npos; };
  if (has(kActivateProfileSwitch)) {
    out.mode = CommandLine::Mode::ActivateProfile;
    return out;
  }
  if (has(kRemoveProfileSwitch)) {
    out.mode = CommandLine::Mode::RemoveProfile;
    return out;
  }
  out.bootstrap = has(kBootstrapSwitch);
  if (has(kVoiceDeepLink)) {
    if (has("action=start"))
      out.voice_kind = RequestKind::VoiceStart;
    else if (has("action=stop"))
      out.voice_kind = RequestKind::VoiceStop;
    else if (has("action=cancel"))
      out.voice_kind = RequestKind::VoiceCancel;
    else
      out.voice_kind = RequestKind::VoiceToggle;
  }
  return out;
}

std::string JoinArguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line.push_back(' ');
    line += argv[i];
  }
  return line;
}

}  // namespace kavi::win
