// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as pending.json. Whatever they hold, the reader gives a state within the file's
// limits or an error; a state it accepts is written back and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "net/cloud_state.h"

using namespace kavi::win;

namespace {

using kavi::fuzz::Check;

int64_t Sum(const CloudCounts& counts) {
  int64_t sum = 0;
  for (const auto& [key, count] : counts) {
    Check(count > 0 && count <= kMaxStoredCount);
    sum += count;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CloudState state;
  std::string error;
  if (!ParseCloudState(text, &state, &error)) {
    Check(!error.empty());
    Check(state == CloudState{});
    return 0;
  }
  Check(error.empty());
  Check(state.pending_reports.size() <= kMaxPendingEntries);
  Check(state.pending_predicts.size() <= kMaxPendingEntries);
  Sum(state.pending_reports);
  Sum(state.pending_predicts);
  Check(Sum(state.inflight_reports) + Sum(state.inflight_predicts) <= kMaxBatchCounts);
  Check(state.has_inflight() ==
        (!state.inflight_reports.empty() || !state.inflight_predicts.empty()));
  Check(state.dead_letters.size() <= kMaxDeadLetters);
  for (const auto* counts : {&state.pending_reports, &state.inflight_reports}) {
    for (const auto& [key, count] : *counts) {
      std::string_view reading, word;
      Check(SplitCloudEntryKey(key, &reading, &word));
      Check(IsReportedReading(reading) && IsCountedText(word));
    }
  }
  CloudState again;
  Check(ParseCloudState(SerializeCloudState(state), &again, &error));
  Check(again == state);
  return 0;
}
