// SPDX-License-Identifier: Apache-2.0
#include "service/cloud_words.h"

#include "config/json.h"
#include "text/utf8.h"
#include "net/sha256.h"

namespace kavi::service {
namespace {

using win::JsonValue;

bool ValidBatchId(std::string_view id) {
  if (id.empty() || id.size() > kMaxBatchIdBytes) return false;
  for (unsigned char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

bool ShortText(const JsonValue& entry, std::string_view key, std::string* out) {
  return win::server::GetJsonString(entry, key, out) && !out->empty() &&
         out->size() <= kMaxWordBytes;
}

// Reads one array of entries with two texts and a count; "" or the code of the first fault.
template <typename Entry>
std::string ReadEntries(const JsonValue& root, std::string_view key, std::string_view first,
                        std::string_view second, std::vector<Entry>* out, int64_t* total) {
  const JsonValue* list = win::server::FindJsonMember(root, key);
  if (list == nullptr) return {};
  if (!list->is_array()) return "bad_format";
  if (static_cast<int64_t>(list->array.size()) > kMaxBatchCount) return "too_many_items";
  for (const JsonValue& item : list->array) {
    Entry entry;
    std::string* texts[2];
    if constexpr (std::is_same_v<Entry, WordCount>) {
      texts[0] = &entry.word;
      texts[1] = &entry.reading;
    } else {
      texts[0] = &entry.earlier;
      texts[1] = &entry.following;
    }
    if (!item.is_object() || !ShortText(item, first, texts[0]) ||
        !ShortText(item, second, texts[1]))
      return "bad_format";
    if (!win::server::GetJsonInt64(item, "c", &entry.count) || entry.count < 1 ||
        entry.count > kMaxItemCount)
      return "item_cnt_invalid";
    *total += entry.count;
    out->push_back(std::move(entry));
  }
  return {};
}

std::string Refusal(std::string_view code, std::string_view message) {
  std::string body = "{\"_res\":\"fail\",\"code\":";
  win::server::AppendJsonString(code, &body);
  if (!message.empty()) {
    body += ",\"msg\":";
    win::server::AppendJsonString(message, &body);
  }
  return body + "}";
}

SnapshotBody Snapshot(std::string_view member, const std::string& items) {
  SnapshotBody snapshot;
  std::string error;
  win::Sha256Bytes(items, &snapshot.hash, &error);
  snapshot.json = "{\"_res\":\"ok\",\"";
  snapshot.json += member;
  snapshot.json += "\":{\"hash\":\"" + snapshot.hash + "\",\"items\":" + items + "}}";
  return snapshot;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string ParseReportBatch(std::string_view body, ReportBatch* out) {
  if (!win::IsValidUtf8(body)) return "decode_failed";
  JsonValue root;
  if (!win::server::ParseJson(body, &root, nullptr) || !root.is_object()) return "bad_format";
  ReportBatch batch;
  const JsonValue* id = win::server::FindJsonMember(root, "batch_id");
  if (id == nullptr || (id->is_string() && id->string.empty())) return "missing_batch_id";
  if (!id->is_string() || !ValidBatchId(id->string)) return "bad_batch_id";
  batch.batch_id = id->string;
  int64_t total = 0;
  std::string code = ReadEntries(root, "items", "w", "p", &batch.items, &total);
  if (code.empty()) code = ReadEntries(root, "predicts", "pr", "nx", &batch.predicts, &total);
  if (!code.empty()) return code;
  if (total > kMaxBatchCount) return "too_many_items";
  *out = std::move(batch);
  return {};
}

std::string ReportAcceptedBody() {
  return "{\"_res\":\"ok\"}";
}

std::string ReportRefusedBody(std::string_view code) {
  return Refusal(code, {});
}

std::string TryLaterCode(int64_t seconds) {
  return "try_later: " + std::to_string(seconds) + " seconds";
}

bool ReportRateLimit::Admit(const std::string& client, std::chrono::steady_clock::time_point now,
                            int64_t* retry_after_seconds) {
  if (per_minute_ == 0) return true;
  std::lock_guard<std::mutex> hold(mutex_);
  Window& window = windows_[client];
  if (now - window.start >= std::chrono::minutes(1)) {
    window.start = now;
    window.used = 0;
  }
  if (window.used < per_minute_) {
    ++window.used;
    return true;
  }
  const auto left = std::chrono::minutes(1) - (now - window.start);
  *retry_after_seconds =
      std::max<int64_t>(1, std::chrono::ceil<std::chrono::seconds>(left).count());
  return false;
}

SnapshotBody MakeHotSnapshot(const std::vector<WordCount>& words) {
  std::string items = "[";
  for (const WordCount& word : words) {
    if (items.size() > 1) items += ",";
    items += "{\"f\":" + std::to_string(word.count) + ",\"p\":";
    win::server::AppendJsonString(word.reading, &items);
    items += ",\"w\":";
    win::server::AppendJsonString(word.word, &items);
    items += "}";
  }
  return Snapshot("hot", items + "]");
}

SnapshotBody MakeBigramSnapshot(const std::vector<PairCount>& pairs) {
  std::string items = "[";
  for (const PairCount& pair : pairs) {
    if (items.size() > 1) items += ",";
    items += "{\"nx\":";
    win::server::AppendJsonString(pair.following, &items);
    items += ",\"pr\":";
    win::server::AppendJsonString(pair.earlier, &items);
    items += ",\"w\":" + std::to_string(pair.count) + "}";
  }
  return Snapshot("bigram", items + "]");
}

bool IfNoneMatchHits(std::string_view header, std::string_view hash) {
  while (!header.empty()) {
    const size_t comma = header.find(',');
    std::string_view tag = Trim(header.substr(0, comma));
    header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
    if (tag == "*") return true;
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"')
      tag = tag.substr(1, tag.size() - 2);
    if (!tag.empty() && tag == hash) return true;
  }
  return false;
}

}  // namespace kavi::service
