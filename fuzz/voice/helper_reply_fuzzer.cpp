// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes from the recogniser helper, cut into pipe reads at places taken from the
// input: the reply reader must keep its 4 MiB bound, hand out lines without their line feed
// (and one carriage return), keep what follows the last line feed, and classify every line as
// one kind with an "OK" text that is valid UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "text/utf8.h"
#include "voice/helper_protocol.h"

using namespace kavi::win;

namespace {

using kavi::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 16;  // the size of each simulated read
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  ReplyBuffer buffer;
  while (!bytes.empty()) {
    const std::string_view read = bytes.substr(0, piece);
    bytes.remove_prefix(read.size());
    const bool kept = buffer.Append(read);
    Check(kept == (buffer.size() <= kMaxReplyBufferBytes));
    while (std::optional<std::string> line = buffer.TakeLine()) {
      Check(line->find('\n') == std::string::npos);
      std::string rest;
      switch (ClassifyHelperLine(*line, &rest)) {
        case LineKind::kReady:
          Check(*line == kReadyLine);
          break;
        case LineKind::kOk:
          Check(!rest.empty() && IsValidUtf8(rest) && *line == kOkPrefix + rest);
          break;
        case LineKind::kError:
          Check(*line == kErrorPrefix + rest);
          break;
        case LineKind::kOther:
          Check(rest.empty());
          break;
      }
    }
  }
  Check(buffer.size() <= size);
  // The request line is either refused or one line of at most 64 KiB with one tab.
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const size_t cut = all.size() / 2;
  if (std::optional<std::string> request = RequestLine(all.substr(0, cut), all.substr(cut))) {
    Check(request->size() <= kMaxRequestLineBytes && request->back() == '\n');
    Check(request->find('\n') == request->size() - 1);
  }
  return 0;
}
