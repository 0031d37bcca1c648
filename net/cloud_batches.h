// SPDX-License-Identifier: Apache-2.0
// The rules that move counts through the cloud state: counting a commit, taking a batch out of
// the pending counts, and what each report answer does to the batch. Pure functions of the state
// and the time, so every rule that can lose or double-count data is tested without a thread or a
// network.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/cloud_state.h"
#include "net/kavi_api_client.h"

namespace kavi::win {

// Only entries counted at least this often take part in batches.
inline constexpr int64_t kMinEligibleCount = 3;
// A new batch needs this much eligible count over both pending maps...
inline constexpr int64_t kMinBatchReadiness = 100;
// ...and this long since the last accepted report.
inline constexpr int64_t kMinSendIntervalMs = 300000;
// One entry gives at most this much of its count to one batch.
inline constexpr int64_t kMaxEntryCountPerBatch = 50;
// Transient failures of one batch before it is given up.
inline constexpr int64_t kMaxBatchRetries = 5;
// After an accepted report, no other report for this long.
inline constexpr int64_t kQuietAfterAcceptMs = 1800000;
// Added to the delay a rate-limited answer asks for.
inline constexpr int64_t kRateLimitMarginMs = 5000;

inline constexpr char kRetryBudgetReasonPrefix[] = "retry_budget_exhausted:";
inline constexpr char kPermanentReasonPrefix[] = "permanent:";

// Counts one commit (reading typed for it, committed text). `previous` is the previous committed
// text, empty when none; it is updated. A text that may not be counted forgets the previous one
// and counts nothing. False when nothing was counted.
bool CountCommit(CloudState* state, std::string* previous, std::string_view reading,
                 std::string_view text);

// The sum of the counts of the entries that take part in batches.
int64_t EligibleSum(const CloudCounts& counts);

// Moves a new batch from pending to inflight under `batch_id` when one is ready at `now`: no
// batch in flight, not rate limited, enough eligible counts, long enough since the last accepted
// report. False when none is ready (the state is unchanged then).
bool TakeNewBatch(CloudState* state, int64_t now, const std::string& batch_id);

// The batch in flight as the report sends it.
CloudUploadBatch InflightBatch(const CloudState& state);

// What a report answer did.
enum class ReportEffect { kAccepted, kKeptInFlight, kDeadLetter, kRateLimited, kNone };

// Applies the answer to the batch in flight at `now`.
ReportEffect ApplyReportResult(CloudState* state, const CloudReportResult& result, int64_t now);

// A fresh batch id: a random (version 4) GUID in its 36-character hyphenated form.
std::string NewBatchId();

}  // namespace kavi::win
