// SPDX-License-Identifier: Apache-2.0
// What the cloud input manager keeps across restarts, as pending.json holds it: the counts not
// yet sent, the batch being sent, the send and rate-limit times, and the batches given up. The
// counting rules that decide which texts and readings may be counted live here too, because the
// file's checks apply them to every key it holds.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kCloudStateFileName[] = "pending.json";

// A pending map holds at most this many entries; one more empties it.
inline constexpr size_t kMaxPendingEntries = 5000;
inline constexpr size_t kMaxDeadLetters = 10;
// The counts of one batch sum to at most this.
inline constexpr int64_t kMaxBatchCounts = 500;
// A count saturates here (the largest count the file accepts).
inline constexpr int64_t kMaxStoredCount = 2147483647;
// A committed text is counted when it has 1 to this many code points.
inline constexpr size_t kMaxCountedCodePoints = 8;

// Entry key -> count. A report entry's key is reading TAB text; a prediction entry's key is the
// earlier text TAB the following one. std::map walks keys in byte order, the order batches take
// them in.
using CloudCounts = std::map<std::string, int64_t>;

// A batch given up: after a permanent refusal or when its retries ran out. It keeps no text, only
// what is needed to tell what was lost.
struct CloudDeadLetter {
  std::string batch_id;
  std::string reason;
  int64_t report_count = 0;   // the batch's report counts summed
  int64_t predict_count = 0;  // its prediction counts summed
  int64_t timestamp_ms = 0;

  bool operator==(const CloudDeadLetter&) const = default;
};

struct CloudState {
  CloudCounts pending_reports;
  CloudCounts pending_predicts;
  CloudCounts inflight_reports;
  CloudCounts inflight_predicts;
  std::string inflight_batch_id;  // empty: no batch in flight
  int64_t inflight_retry_count = 0;
  int64_t last_send_ms = 0;  // 0: nothing accepted yet
  int64_t rate_limited_until_ms = 0;
  std::deque<CloudDeadLetter> dead_letters;  // oldest first

  bool has_inflight() const { return !inflight_batch_id.empty(); }
  bool operator==(const CloudState&) const = default;
};

// A committed text that may be counted: valid UTF-8 of 1 to 8 code points, at least one of them
// a CJK ideograph (the unified ideographs, extension A, the compatibility ideographs and the
// supplementary-plane extensions up to U+323AF).
bool IsCountedText(std::string_view text);
// A reading that may be reported: non-empty, the letters a to z only.
bool IsReportedReading(std::string_view reading);
std::string CloudEntryKey(std::string_view first, std::string_view second);
// Splits an entry key at its TAB; false when it has none.
bool SplitCloudEntryKey(std::string_view key, std::string_view* first, std::string_view* second);

// Reads pending.json. On failure `out` is untouched and `error` is one of "cloud state root is
// not an object", "invalid cloud state", "invalid cloud state key", "invalid cloud rate limit",
// "inconsistent cloud snapshot", "invalid cloud dead letter" (or the JSON reader's message).
bool ParseCloudState(std::string_view text, CloudState* out, std::string* error);
// Compact JSON, members in key order; ParseCloudState reads it back equal.
std::string SerializeCloudState(const CloudState& state);
// Replaces pending.json (or any state file) with serialised state through "<file>.tmp", readable
// by the user alone; the old content stays whole on failure.
bool WriteCloudStateFile(const std::filesystem::path& file, std::string_view serialized);

}  // namespace kavi::win
