// SPDX-License-Identifier: Apache-2.0
// The cloud-word side of the service: report batches as they arrive, their validation codes,
// the per-client rate limit, and the hot-word and word-pair snapshots with their hashes.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kavi::service {

struct WordCount {
  std::string word;     // "w"
  std::string reading;  // "p"
  int64_t count = 0;    // "c"
};

struct PairCount {
  std::string earlier;    // "pr"
  std::string following;  // "nx"
  int64_t count = 0;      // "c"
};

struct ReportBatch {
  std::string batch_id;
  std::vector<WordCount> items;
  std::vector<PairCount> predicts;
};

// Limits of one batch, as the client keeps them.
inline constexpr int64_t kMaxBatchCount = 500;  // the counts of one batch sum to at most this
inline constexpr int64_t kMaxItemCount = 50;
inline constexpr size_t kMaxBatchIdBytes = 64;
inline constexpr size_t kMaxWordBytes = 256;

// Reads a report body. Returns "" when it is valid, else the answer's code: "decode_failed"
// (not UTF-8), "bad_format" (not a JSON object, or an entry of the wrong shape),
// "missing_batch_id", "bad_batch_id", "too_many_items", "item_cnt_invalid".
std::string ParseReportBatch(std::string_view body, ReportBatch* out);

// The answer bodies of /cloud/report.
std::string ReportAcceptedBody();
std::string ReportRefusedBody(std::string_view code);
// "try_later: N seconds"
std::string TryLaterCode(int64_t seconds);

// A fixed window per client address: at most `per_minute` reports in each minute.
class ReportRateLimit {
 public:
  explicit ReportRateLimit(uint32_t per_minute) : per_minute_(per_minute) {}
  // True when the client may report now; else the seconds until its window ends.
  bool Admit(const std::string& client, std::chrono::steady_clock::time_point now,
             int64_t* retry_after_seconds);

 private:
  struct Window {
    std::chrono::steady_clock::time_point start;
    uint32_t used = 0;
  };
  const uint32_t per_minute_;
  std::mutex mutex_;
  std::map<std::string, Window> windows_;
};

// The snapshot bodies served by /cloud/hot and /cloud/bigram; the hash is the SHA-256 of the
// items as serialised, so equal content always has an equal hash.
struct SnapshotBody {
  std::string hash;
  std::string json;
};
SnapshotBody MakeHotSnapshot(const std::vector<WordCount>& words);
SnapshotBody MakeBigramSnapshot(const std::vector<PairCount>& pairs);

// True when an If-None-Match header names this hash (bare, quoted, or in a list, or "*").
bool IfNoneMatchHits(std::string_view header, std::string_view hash);

}  // namespace kavi::service
