// SPDX-License-Identifier: Apache-2.0
#include "net/cloud_batches.h"

#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <random>

namespace kavi::win {
namespace {

void Increment(CloudCounts* counts, std::string key) {
  int64_t& count = (*counts)[std::move(key)];
  count = std::min(count + 1, kMaxStoredCount);
  // An overflowing map is given up whole rather than growing without bound.
  if (counts->size() > kMaxPendingEntries) counts->clear();
}

int64_t Sum(const CloudCounts& counts) {
  int64_t sum = 0;
  for (const auto& entry : counts) sum += entry.second;
  return sum;
}

// Walks `pending` in key order and moves what the budget allows into `inflight`.
void TakeFrom(CloudCounts* pending, CloudCounts* inflight, int64_t* budget) {
  for (auto it = pending->begin(); it != pending->end() && *budget >= kMinEligibleCount;) {
    const int64_t take = std::min({it->second, kMaxEntryCountPerBatch, *budget});
    if (take < kMinEligibleCount) {
      ++it;
      continue;
    }
    (*inflight)[it->first] += take;
    *budget -= take;
    it->second -= take;
    it = it->second == 0 ? pending->erase(it) : std::next(it);
  }
}

void ClearInflight(CloudState* state) {
  state->inflight_reports.clear();
  state->inflight_predicts.clear();
  state->inflight_batch_id.clear();
  state->inflight_retry_count = 0;
}

void BuryInflight(CloudState* state, std::string reason, int64_t now) {
  state->dead_letters.push_back({state->inflight_batch_id, std::move(reason),
                                 Sum(state->inflight_reports), Sum(state->inflight_predicts), now});
  while (state->dead_letters.size() > kMaxDeadLetters) state->dead_letters.pop_front();
  ClearInflight(state);
}

}  // namespace

bool CountCommit(CloudState* state, std::string* previous, std::string_view reading,
                 std::string_view text) {
  if (!IsCountedText(text)) {
    previous->clear();
    return false;
  }
  if (IsReportedReading(reading)) Increment(&state->pending_reports, CloudEntryKey(reading, text));
  if (!previous->empty()) Increment(&state->pending_predicts, CloudEntryKey(*previous, text));
  previous->assign(text);
  return true;
}

int64_t EligibleSum(const CloudCounts& counts) {
  int64_t sum = 0;
  for (const auto& entry : counts) {
    if (entry.second >= kMinEligibleCount) sum += entry.second;
  }
  return sum;
}

bool TakeNewBatch(CloudState* state, int64_t now, const std::string& batch_id) {
  if (state->has_inflight() || now < state->rate_limited_until_ms) return false;
  if (state->last_send_ms != 0 && now - state->last_send_ms < kMinSendIntervalMs) return false;
  if (EligibleSum(state->pending_reports) + EligibleSum(state->pending_predicts) <
      kMinBatchReadiness)
    return false;
  int64_t budget = kMaxBatchCounts;
  TakeFrom(&state->pending_reports, &state->inflight_reports, &budget);
  TakeFrom(&state->pending_predicts, &state->inflight_predicts, &budget);
  state->inflight_batch_id = batch_id;
  state->inflight_retry_count = 0;
  return true;
}

CloudUploadBatch InflightBatch(const CloudState& state) {
  CloudUploadBatch batch;
  batch.batch_id = state.inflight_batch_id;
  std::string_view first, second;
  for (const auto& [key, count] : state.inflight_reports) {
    if (!SplitCloudEntryKey(key, &first, &second)) continue;
    batch.items.push_back({std::string(second), std::string(first), static_cast<uint32_t>(count)});
  }
  for (const auto& [key, count] : state.inflight_predicts) {
    if (!SplitCloudEntryKey(key, &first, &second)) continue;
    batch.predicts.push_back(
        {std::string(first), std::string(second), static_cast<uint32_t>(count)});
  }
  return batch;
}

ReportEffect ApplyReportResult(CloudState* state, const CloudReportResult& result, int64_t now) {
  if (!state->has_inflight()) return ReportEffect::kNone;
  switch (static_cast<CloudReportOutcome>(result.outcome)) {
    case CloudReportOutcome::kAccepted:
      ClearInflight(state);
      state->last_send_ms = now;
      state->rate_limited_until_ms = now + kQuietAfterAcceptMs;
      return ReportEffect::kAccepted;
    case CloudReportOutcome::kTransient:
      if (++state->inflight_retry_count < kMaxBatchRetries) return ReportEffect::kKeptInFlight;
      BuryInflight(state, kRetryBudgetReasonPrefix + result.reason, now);
      return ReportEffect::kDeadLetter;
    case CloudReportOutcome::kPermanent:
      BuryInflight(state, kPermanentReasonPrefix + result.reason, now);
      return ReportEffect::kDeadLetter;
    case CloudReportOutcome::kRateLimited:
      state->rate_limited_until_ms =
          now + std::max<int64_t>(result.retry_after_ms, 0) + kRateLimitMarginMs;
      return ReportEffect::kRateLimited;
  }
  return ReportEffect::kNone;
}

std::string NewBatchId() {
  std::array<unsigned char, 16> bytes;
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    // OpenSSL's generator failed to seed: fall back on the C++ one, still unique enough for an
    // idempotency key.
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  id.reserve(36);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id.push_back('-');
    id.push_back(kHex[bytes[i] >> 4]);
    id.push_back(kHex[bytes[i] & 0x0F]);
  }
  return id;
}

}  // namespace kavi::win
