// SPDX-License-Identifier: Apache-2.0
// The engine's event lines on stderr, one line per event, prefixed like every Kavi log line.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kavi::win {

inline void LogEngineEvent(std::string_view text) {
  std::string line = "[Kavi] ";
  line.append(text);
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace kavi::win
