// SPDX-License-Identifier: Apache-2.0
#include "net/cloud_state.h"

#include <cmath>

#include "config/json.h"
#include "platform/file_replace.h"
#include "text/utf8.h"

namespace kavi::win {
namespace {

constexpr char kRootNotObject[] = "cloud state root is not an object";
constexpr char kInvalidState[] = "invalid cloud state";
constexpr char kInvalidKey[] = "invalid cloud state key";
constexpr char kInvalidRateLimit[] = "invalid cloud rate limit";
constexpr char kInconsistent[] = "inconsistent cloud snapshot";
constexpr char kInvalidDeadLetter[] = "invalid cloud dead letter";

constexpr char kPendingReports[] = "pending_reports";
constexpr char kPendingPredicts[] = "pending_predicts";
constexpr char kInflightReports[] = "inflight_reports";
constexpr char kInflightPredicts[] = "inflight_predicts";
constexpr char kInflightBatchId[] = "inflight_batch_id";
constexpr char kInflightRetryCount[] = "inflight_retry_count";
constexpr char kLastSendMs[] = "last_send_ms";
constexpr char kRateLimitedUntilMs[] = "rate_limited_until_ms";
constexpr char kDeadLetters[] = "dead_letters";

// The CJK ideograph blocks that make a text countable.
struct CodePointRange {
  uint32_t first, last;
};
constexpr CodePointRange kIdeographs[] = {
    {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xF900, 0xFAFF}, {0x20000, 0x323AF}};

bool IsIdeograph(uint32_t c) {
  for (const CodePointRange& range : kIdeographs) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

// The code point starting at text[*pos] of valid UTF-8; *pos moves past it.
uint32_t NextCodePoint(std::string_view text, size_t* pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(*pos);
  size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  uint32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) c = (c << 6) | (byte(*pos + i) & 0x3F);
  *pos += length;
  return c;
}

bool Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

// A whole number of a double within [low, high].
bool IntegralIn(const JsonValue& value, int64_t low, int64_t high, int64_t* out) {
  if (!value.is_number() || !std::isfinite(value.number) ||
      value.number != std::floor(value.number) || value.number < static_cast<double>(low) ||
      value.number > static_cast<double>(high))
    return false;
  *out = static_cast<int64_t>(value.number);
  return true;
}

enum class KeyKind { kReport, kPredict };

bool IsValidKey(std::string_view key, KeyKind kind) {
  std::string_view first, second;
  if (!SplitCloudEntryKey(key, &first, &second) || !IsCountedText(second)) return false;
  return kind == KeyKind::kReport ? IsReportedReading(first) : IsCountedText(first);
}

// Reads one map of counts; a missing member is an empty map. Entries counted 0 carry nothing
// and are dropped.
bool ReadCounts(const JsonValue& root, const char* name, KeyKind kind, CloudCounts* out,
                std::string* error) {
  const JsonValue* member = server::FindJsonMember(root, name);
  if (member == nullptr) return true;
  if (!member->is_object() || member->object.size() > kMaxPendingEntries)
    return Fail(error, kInvalidState);
  for (const auto& [key, value] : member->object) {
    int64_t count = 0;
    if (!IntegralIn(value, 0, kMaxStoredCount, &count)) return Fail(error, kInvalidState);
    if (!IsValidKey(key, kind)) return Fail(error, kInvalidKey);
    if (count > 0) out->emplace(std::string(key), count);
  }
  return true;
}

// An optional integer member of at least 0.
bool ReadTime(const JsonValue& root, const char* name, int64_t* out) {
  const JsonValue* member = server::FindJsonMember(root, name);
  return member == nullptr || IntegralIn(*member, 0, INT64_MAX / 2, out);
}

bool ReadDeadLetter(const JsonValue& value, CloudDeadLetter* out) {
  if (!value.is_object()) return false;
  const JsonValue* report = server::FindJsonMember(value, "report_count");
  const JsonValue* predict = server::FindJsonMember(value, "predict_count");
  const JsonValue* timestamp = server::FindJsonMember(value, "timestamp_ms");
  return server::GetJsonString(value, "batch_id", &out->batch_id) &&
         server::GetJsonString(value, "reason", &out->reason) && report && predict && timestamp &&
         IntegralIn(*report, 0, kMaxBatchCounts, &out->report_count) &&
         IntegralIn(*predict, 0, kMaxBatchCounts, &out->predict_count) &&
         out->report_count + out->predict_count <= kMaxBatchCounts &&
         IntegralIn(*timestamp, 0, INT64_MAX / 2, &out->timestamp_ms);
}

int64_t Sum(const CloudCounts& counts) {
  int64_t sum = 0;
  for (const auto& entry : counts) sum += entry.second;
  return sum;
}

void AppendCounts(const char* name, const CloudCounts& counts, std::string* out) {
  server::AppendJsonString(name, out);
  *out += ":{";
  bool first = true;
  for (const auto& [key, count] : counts) {
    if (!first) out->push_back(',');
    first = false;
    server::AppendJsonString(key, out);
    out->push_back(':');
    *out += std::to_string(count);
  }
  out->push_back('}');
}

void AppendNumber(const char* name, int64_t value, std::string* out) {
  server::AppendJsonString(name, out);
  out->push_back(':');
  *out += std::to_string(value);
}

}  // namespace

bool IsCountedText(std::string_view text) {
  if (text.empty() || !IsValidUtf8(text)) return false;
  size_t code_points = 0;
  bool ideograph = false;
  for (size_t pos = 0; pos < text.size();) {
    if (++code_points > kMaxCountedCodePoints) return false;
    ideograph = IsIdeograph(NextCodePoint(text, &pos)) || ideograph;
  }
  return ideograph;
}

bool IsReportedReading(std::string_view reading) {
  if (reading.empty()) return false;
  for (char c : reading) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

std::string CloudEntryKey(std::string_view first, std::string_view second) {
  std::string key;
  key.reserve(first.size() + 1 + second.size());
  key.append(first);
  key.push_back('\t');
  key.append(second);
  return key;
}

bool SplitCloudEntryKey(std::string_view key, std::string_view* first, std::string_view* second) {
  const size_t tab = key.find('\t');
  if (tab == std::string_view::npos) return false;
  *first = key.substr(0, tab);
  *second = key.substr(tab + 1);
  return true;
}

bool ParseCloudState(std::string_view text, CloudState* out, std::string* error) {
  JsonValue root;
  if (!server::ParseJson(text, &root, error)) return false;
  if (!root.is_object()) return Fail(error, kRootNotObject);

  CloudState state;
  if (!ReadCounts(root, kPendingReports, KeyKind::kReport, &state.pending_reports, error) ||
      !ReadCounts(root, kPendingPredicts, KeyKind::kPredict, &state.pending_predicts, error) ||
      !ReadCounts(root, kInflightReports, KeyKind::kReport, &state.inflight_reports, error) ||
      !ReadCounts(root, kInflightPredicts, KeyKind::kPredict, &state.inflight_predicts, error))
    return false;
  const JsonValue* batch_id = server::FindJsonMember(root, kInflightBatchId);
  if (batch_id != nullptr) {
    if (!batch_id->is_string()) return Fail(error, kInvalidState);
    state.inflight_batch_id = std::string(batch_id->string.view());
  }
  if (!ReadTime(root, kInflightRetryCount, &state.inflight_retry_count) ||
      !ReadTime(root, kLastSendMs, &state.last_send_ms))
    return Fail(error, kInvalidState);
  if (!ReadTime(root, kRateLimitedUntilMs, &state.rate_limited_until_ms))
    return Fail(error, kInvalidRateLimit);

  const bool has_entries = !state.inflight_reports.empty() || !state.inflight_predicts.empty();
  if (has_entries != state.has_inflight() ||
      Sum(state.inflight_reports) + Sum(state.inflight_predicts) > kMaxBatchCounts)
    return Fail(error, kInconsistent);

  const JsonValue* letters = server::FindJsonMember(root, kDeadLetters);
  if (letters != nullptr) {
    if (!letters->is_array() || letters->array.size() > kMaxDeadLetters)
      return Fail(error, kInvalidDeadLetter);
    for (const JsonValue& value : letters->array) {
      CloudDeadLetter letter;
      if (!ReadDeadLetter(value, &letter)) return Fail(error, kInvalidDeadLetter);
      state.dead_letters.push_back(std::move(letter));
    }
  }
  *out = std::move(state);
  if (error) error->clear();
  return true;
}

std::string SerializeCloudState(const CloudState& state) {
  std::string out = "{\"dead_letters\":[";
  bool first = true;
  for (const CloudDeadLetter& letter : state.dead_letters) {
    if (!first) out.push_back(',');
    first = false;
    out += "{\"batch_id\":";
    server::AppendJsonString(letter.batch_id, &out);
    out += ",\"predict_count\":" + std::to_string(letter.predict_count) + ",\"reason\":";
    server::AppendJsonString(letter.reason, &out);
    out += ",\"report_count\":" + std::to_string(letter.report_count) +
           ",\"timestamp_ms\":" + std::to_string(letter.timestamp_ms) + "}";
  }
  out += "],";
  server::AppendJsonString(kInflightBatchId, &out);
  out.push_back(':');
  server::AppendJsonString(state.inflight_batch_id, &out);
  out.push_back(',');
  AppendCounts(kInflightPredicts, state.inflight_predicts, &out);
  out.push_back(',');
  AppendCounts(kInflightReports, state.inflight_reports, &out);
  out.push_back(',');
  AppendNumber(kInflightRetryCount, state.inflight_retry_count, &out);
  out.push_back(',');
  AppendNumber(kLastSendMs, state.last_send_ms, &out);
  out.push_back(',');
  AppendCounts(kPendingPredicts, state.pending_predicts, &out);
  out.push_back(',');
  AppendCounts(kPendingReports, state.pending_reports, &out);
  out.push_back(',');
  AppendNumber(kRateLimitedUntilMs, state.rate_limited_until_ms, &out);
  out.push_back('}');
  return out;
}

bool WriteCloudStateFile(const std::filesystem::path& file, std::string_view serialized) {
  using std::filesystem::perms;
  return ReplaceFile(file, serialized, perms::owner_read | perms::owner_write, nullptr);
}

}  // namespace kavi::win
