// SPDX-License-Identifier: Apache-2.0
#include "net/kavi_api_client.h"

#include <algorithm>
#include <array>

#include "config/json.h"

namespace kavi::win {
namespace {

constexpr char kJson[] = "application/json";
constexpr char kRootNotObject[] = "response root is not an object";
constexpr char kInvalidTranslationRequest[] = "invalid translation request";
constexpr char kInvalidTranslationResponse[] = "invalid translation response";
constexpr char kInvalidPolishRequest[] = "invalid voice polish request";
constexpr char kInvalidPolishResponse[] = "invalid voice polish response";
constexpr uint32_t kPolishReceiveTimeoutMs = 20000;
constexpr uint64_t kPolishMaxResponseBytes = 1 << 20;
constexpr std::array<std::string_view, 7> kPermanentCodes = {
    "bad_format",       "missing_batch_id", "bad_batch_id", "too_many_items",
    "item_cnt_invalid", "over_human_limit", "decode_failed"};

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

void AppendCount(uint32_t count, std::string* out) {
  *out += std::to_string(count);
}

// The names of one kind of snapshot.
struct SnapshotNames {
  std::string_view member;
  std::string_view first, second, number;
  size_t max_items;
  std::string_view invalid_response, invalid_items, invalid_item;
};

constexpr SnapshotNames kHotNames = {"hot",
                                     "w",
                                     "p",
                                     "f",
                                     kMaxHotItems,
                                     "invalid cloud hot response",
                                     "invalid cloud hot items",
                                     "invalid cloud hot item"};
constexpr SnapshotNames kBigramNames = {"bigram",
                                        "pr",
                                        "nx",
                                        "w",
                                        kMaxBigramItems,
                                        "invalid cloud bigram response",
                                        "invalid cloud bigram items",
                                        "invalid cloud bigram item"};

template <typename Item>
bool ParseSnapshot(const SnapshotNames& names, uint32_t status, std::string_view body,
                   CloudSnapshot<Item>* snapshot, std::string* error) {
  *snapshot = CloudSnapshot<Item>{};
  if (status == 304) {
    snapshot->not_modified = true;
    error->clear();
    return true;
  }
  if (status != 200) return Fail(error, "unexpected HTTP status");
  JsonValue root;
  if (!server::ParseJson(body, &root, nullptr) || !root.is_object())
    return Fail(error, kRootNotObject);
  std::string res;
  const JsonValue* content = server::FindJsonMember(root, names.member);
  if (!server::GetJsonString(root, "_res", &res) || res != "ok" || content == nullptr ||
      !content->is_object())
    return Fail(error, std::string(names.invalid_response));
  CloudSnapshot<Item> parsed;
  const JsonValue* items = server::FindJsonMember(*content, "items");
  if (!server::GetJsonString(*content, "hash", &parsed.hash) || items == nullptr ||
      !items->is_array() || items->array.size() > names.max_items)
    return Fail(error, std::string(names.invalid_items));
  parsed.items.reserve(items->array.size());
  for (const JsonValue& entry : items->array) {
    Item item;
    std::string* texts[2];
    double* number;
    if constexpr (std::is_same_v<Item, CloudHotItem>) {
      texts[0] = &item.word;
      texts[1] = &item.reading;
      number = &item.frequency;
    } else {
      texts[0] = &item.earlier;
      texts[1] = &item.following;
      number = &item.weight;
    }
    const JsonValue* value = server::FindJsonMember(entry, names.number);
    if (!entry.is_object() || !server::GetJsonString(entry, names.first, texts[0]) ||
        texts[0]->empty() || !server::GetJsonString(entry, names.second, texts[1]) ||
        texts[1]->empty() || value == nullptr || !value->is_number() || value->number < 0)
      return Fail(error, std::string(names.invalid_item));
    *number = value->number;
    parsed.items.push_back(std::move(item));
  }
  *snapshot = std::move(parsed);
  error->clear();
  return true;
}

std::string PolishBody(const std::string& text, const VoicePolishOptions& options) {
  std::string body = "{\"options\":{";
  const std::pair<const char*, bool> flags[] = {{"closing_stop", options.closing_stop},
                                                {"fillers", options.fillers},
                                                {"punctuation", options.punctuation},
                                                {"spacing", options.spacing},
                                                {"width", options.width}};
  bool first = true;
  for (const auto& [name, on] : flags) {
    if (!first) body += ",";
    first = false;
    body += "\"" + std::string(name) + "\":" + (on ? "true" : "false");
  }
  body += "},\"text\":";
  server::AppendJsonString(text, &body);
  return body + "}";
}

HttpRequest JsonPost(const std::string& url, std::string body) {
  HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.headers = {{"Accept", kJson}, {"Content-Type", kJson}};
  request.body = std::move(body);
  return request;
}

}  // namespace

KaviApiClient::KaviApiClient(const WinHttpClient& http, std::string base_url)
    : http_(http), base_url_(std::move(base_url)) {}

bool KaviApiClient::Exchange(HttpRequest request, HttpResponse* response,
                             std::string* error) const {
  HttpError http_error;
  if (http_.Send(request, response, &http_error)) return true;
  return Fail(error, "winhttp:" + std::to_string(http_error.code));
}

bool KaviApiClient::Report(const CloudUploadBatch& batch, CloudReportResult* result,
                           std::string* error, HttpCancellation* cancellation) const {
  *result = CloudReportResult{};
  HttpRequest request = JsonPost(base_url_ + "/cloud/report", ReportBody(batch));
  request.cancellation = cancellation;
  HttpResponse response;
  if (!Exchange(std::move(request), &response, error)) return false;
  return ParseReportAnswer(response.status, response.body, result, error);
}

bool KaviApiClient::FetchHot(const std::string& stored_hash, CloudSnapshot<CloudHotItem>* snapshot,
                             std::string* error, HttpCancellation* cancellation) const {
  *snapshot = CloudSnapshot<CloudHotItem>{};
  HttpRequest request;
  request.url = base_url_ + "/cloud/hot";
  request.headers = {{"Accept", kJson}};
  if (!stored_hash.empty()) request.headers.emplace_back("If-None-Match", stored_hash);
  request.cancellation = cancellation;
  HttpResponse response;
  if (!Exchange(std::move(request), &response, error)) return false;
  return ParseHotSnapshot(response.status, response.body, snapshot, error);
}

bool KaviApiClient::FetchBigram(const std::string& stored_hash,
                                CloudSnapshot<CloudBigramItem>* snapshot, std::string* error,
                                HttpCancellation* cancellation) const {
  *snapshot = CloudSnapshot<CloudBigramItem>{};
  HttpRequest request;
  request.url = base_url_ + "/cloud/bigram";
  request.headers = {{"Accept", kJson}};
  if (!stored_hash.empty()) request.headers.emplace_back("If-None-Match", stored_hash);
  request.cancellation = cancellation;
  HttpResponse response;
  if (!Exchange(std::move(request), &response, error)) return false;
  return ParseBigramSnapshot(response.status, response.body, snapshot, error);
}

bool KaviApiClient::Translate(const std::string& text, const std::string& language_key,
                              const std::string& target, std::string* translation,
                              std::string* error, HttpCancellation* cancellation) const {
  translation->clear();
  if (text.empty() || (language_key != "to" && language_key != "lang"))
    return Fail(error, kInvalidTranslationRequest);
  std::string body = "{";
  server::AppendJsonString(language_key, &body);
  body += ":";
  server::AppendJsonString(target, &body);
  body += ",\"text\":";
  server::AppendJsonString(text, &body);
  body += "}";
  HttpRequest request = JsonPost(base_url_ + "/translate", std::move(body));
  request.cancellation = cancellation;
  HttpResponse response;
  if (!Exchange(std::move(request), &response, error)) return false;
  return ParseTextAnswer(response.status, response.body, kInvalidTranslationResponse, translation,
                         error);
}

bool KaviApiClient::PolishVoiceText(const std::string& text, const VoicePolishOptions& options,
                                    std::string* polished, std::string* error,
                                    HttpCancellation* cancellation) const {
  polished->clear();
  if (text.empty()) return Fail(error, kInvalidPolishRequest);
  HttpRequest request = JsonPost(base_url_ + "/voice/polish", PolishBody(text, options));
  request.receive_timeout_ms = kPolishReceiveTimeoutMs;
  request.max_response_bytes = kPolishMaxResponseBytes;
  request.cancellation = cancellation;
  HttpResponse response;
  if (!Exchange(std::move(request), &response, error)) return false;
  return ParseTextAnswer(response.status, response.body, kInvalidPolishResponse, polished, error);
}

std::string ReportBody(const CloudUploadBatch& batch) {
  std::string body = "{\"batch_id\":";
  server::AppendJsonString(batch.batch_id, &body);
  body += ",\"items\":[";
  for (size_t i = 0; i < batch.items.size(); ++i) {
    const CloudWordItem& item = batch.items[i];
    body += i == 0 ? "{\"c\":" : ",{\"c\":";
    AppendCount(item.count, &body);
    body += ",\"p\":";
    server::AppendJsonString(item.reading, &body);
    body += ",\"w\":";
    server::AppendJsonString(item.text, &body);
    body += "}";
  }
  body += "],\"predicts\":[";
  for (size_t i = 0; i < batch.predicts.size(); ++i) {
    const CloudPairItem& pair = batch.predicts[i];
    body += i == 0 ? "{\"c\":" : ",{\"c\":";
    AppendCount(pair.count, &body);
    body += ",\"nx\":";
    server::AppendJsonString(pair.following, &body);
    body += ",\"pr\":";
    server::AppendJsonString(pair.earlier, &body);
    body += "}";
  }
  return body + "]}";
}

bool ParseReportAnswer(uint32_t status, std::string_view body, CloudReportResult* result,
                       std::string* error) {
  *result = CloudReportResult{};
  if (status != 200) {
    result->outcome = static_cast<uint32_t>(CloudReportOutcome::kTransient);
    result->reason = "http_" + std::to_string(status);
    error->clear();
    return true;
  }
  JsonValue root;
  if (!server::ParseJson(body, &root, nullptr) || !root.is_object())
    return Fail(error, kRootNotObject);
  std::string res;
  if (server::GetJsonString(root, "_res", &res) && res == "ok") {
    result->outcome = static_cast<uint32_t>(CloudReportOutcome::kAccepted);
    if (!server::GetJsonString(root, "code", &result->reason)) result->reason = "unknown";
    error->clear();
    return true;
  }
  if (!server::GetJsonString(root, "code", &result->reason)) result->reason = "unknown";
  if (result->reason.starts_with("try_later")) {
    result->outcome = static_cast<uint32_t>(CloudReportOutcome::kRateLimited);
    result->retry_after_ms = RetryDelayMs(result->reason);
  } else if (std::find(kPermanentCodes.begin(), kPermanentCodes.end(), result->reason) !=
             kPermanentCodes.end()) {
    result->outcome = static_cast<uint32_t>(CloudReportOutcome::kPermanent);
  } else {
    result->outcome = static_cast<uint32_t>(CloudReportOutcome::kTransient);
  }
  error->clear();
  return true;
}

int64_t RetryDelayMs(std::string_view code) {
  const size_t first = code.find_first_of("0123456789");
  if (first == std::string_view::npos) return kDefaultRetryAfterMs;
  int64_t number = 0;
  size_t at = first;
  for (; at < code.size() && code[at] >= '0' && code[at] <= '9'; ++at)
    number = std::min<int64_t>(kMaxRetryAfterMs, number * 10 + (code[at] - '0'));
  while (at < code.size() && code[at] == ' ') ++at;
  const std::string_view unit = code.substr(at);
  int64_t ms;
  if (unit == "ms" || unit == "millisecond" || unit == "milliseconds") {
    ms = number;
  } else if (unit == "s" || unit == "sec" || unit == "secs" || unit == "second" ||
             unit == "seconds") {
    ms = number * 1000;
  } else {
    ms = kDefaultRetryAfterMs;
  }
  return std::min(ms, kMaxRetryAfterMs);
}

bool ParseHotSnapshot(uint32_t status, std::string_view body, CloudSnapshot<CloudHotItem>* snapshot,
                      std::string* error) {
  return ParseSnapshot(kHotNames, status, body, snapshot, error);
}

bool ParseBigramSnapshot(uint32_t status, std::string_view body,
                         CloudSnapshot<CloudBigramItem>* snapshot, std::string* error) {
  return ParseSnapshot(kBigramNames, status, body, snapshot, error);
}

bool ParseTextAnswer(uint32_t status, std::string_view body, std::string_view invalid,
                     std::string* text, std::string* error) {
  text->clear();
  if (status != 200) return Fail(error, "HTTP " + std::to_string(status));
  JsonValue root;
  std::string res;
  if (!server::ParseJson(body, &root, nullptr) || !root.is_object() ||
      !server::GetJsonString(root, "_res", &res))
    return Fail(error, std::string(invalid));
  if (res == "ok") {
    if (!server::GetJsonString(root, "text", text)) return Fail(error, std::string(invalid));
    error->clear();
    return true;
  }
  std::string message;
  if (server::GetJsonString(root, "msg", &message) && !message.empty()) return Fail(error, message);
  if (server::GetJsonString(root, "code", &message) && !message.empty())
    return Fail(error, message);
  return Fail(error, "server error");
}

}  // namespace kavi::win
