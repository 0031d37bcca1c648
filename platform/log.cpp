// SPDX-License-Identifier: Apache-2.0
#include "platform/log.h"

#include <unistd.h>

#include <string>

#include "text/utf8.h"

namespace kavi::win {

void LogLine(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  // Lines carry names and values from files and clients: bytes that are not text are escaped.
  std::string line = EscapeUnprintable(text);
  line.push_back('\n');
  // One write per event so lines of concurrent threads do not interleave.
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace kavi::win
