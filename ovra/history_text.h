// SPDX-License-Identifier: Apache-2.0
// The typing history (libime's HistoryBigram) in text form, for the synchronised copies.
#pragma once

#include <libime/core/historybigram.h>

#include <exception>
#include <sstream>
#include <string>

namespace kavi::win {

inline std::string HistoryText(libime::HistoryBigram& history) {
  std::ostringstream out;
  history.dump(out);
  return out.str();
}

// Takes `text` as the history when there is none yet: a history is one sequence of what was
// typed, so two are not merged. False with a message when the text is unusable (the history
// then stays empty).
inline bool AdoptHistoryText(libime::HistoryBigram& history, const std::string& text,
                             std::string* message) {
  if (text.empty() || !HistoryText(history).empty()) return true;
  try {
    std::istringstream in(text);
    history.loadText(in);
  } catch (const std::exception& e) {
    history.clear();
    *message = std::string("unusable history: ") + e.what();
    return false;
  }
  return true;
}

}  // namespace kavi::win
