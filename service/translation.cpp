// SPDX-License-Identifier: Apache-2.0
#include "service/translation.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <utility>

#include "config/json.h"

namespace kavi::service {
namespace {

constexpr char kBadRequestMessage[] = "翻譯請求無效";
constexpr char kNoBackendMessage[] = "翻譯服務未設定此語言";
constexpr char kNotFoundMessage[] = "詞典中沒有這個詞";
constexpr char kNoDictionaryMessage[] = "詞典未載入";
constexpr char kUnsupportedMessage[] = "翻譯服務不支援此語言";
constexpr char kBackendFailedMessage[] = "翻譯服務暫時無法使用";
constexpr size_t kMaxTextBytes = 16 * 1024;
constexpr long kBackendTimeoutMs = 15000;
constexpr size_t kMaxBackendAnswerBytes = 1 << 20;

// The target codes a client may ask for, with LibreTranslate's code ("" when it has none).
constexpr std::array<std::pair<std::string_view, std::string_view>, 34> kTargets = {{
    {"dict", ""}, {"tw", "zt"}, {"cn", "zh"}, {"hk", ""},   {"wyw", ""},  {"bhw", ""},
    {"en", "en"}, {"jp", "ja"}, {"kr", "ko"}, {"vn", "vi"}, {"th", "th"}, {"id", "id"},
    {"my", "ms"}, {"in", "hi"}, {"de", "de"}, {"fr", "fr"}, {"es", "es"}, {"pt", "pt"},
    {"it", "it"}, {"nl", "nl"}, {"pl", "pl"}, {"ru", "ru"}, {"ua", "uk"}, {"tr", "tr"},
    {"se", "sv"}, {"dk", "da"}, {"no", "nb"}, {"fi", "fi"}, {"cz", "cs"}, {"gr", "el"},
    {"ro", "ro"}, {"hu", "hu"}, {"sa", "ar"}, {"il", "he"},
}};

bool KnownTarget(std::string_view code) {
  return std::any_of(kTargets.begin(), kTargets.end(),
                     [code](const auto& entry) { return entry.first == code; });
}

size_t Collect(char* data, size_t size, size_t count, void* out) {
  auto* body = static_cast<std::string*>(out);
  if (body->size() + size * count > kMaxBackendAnswerBytes) return 0;
  body->append(data, size * count);
  return size * count;
}

class LibreTranslateBackend final : public TranslationBackend {
 public:
  LibreTranslateBackend(std::string url, std::string api_key)
      : url_(std::move(url)), api_key_(std::move(api_key)) {}

  bool Translate(const std::string& text, const std::string& target, std::string* translation,
                 std::string* error) override {
    const std::string code = LibreTranslateCode(target);
    if (code.empty()) {
      *error = kUnsupportedMessage;
      return false;
    }
    std::string request = "{\"format\":\"text\",\"q\":";
    win::server::AppendJsonString(text, &request);
    request += ",\"source\":\"auto\",\"target\":";
    win::server::AppendJsonString(code, &request);
    if (!api_key_.empty()) {
      request += ",\"api_key\":";
      win::server::AppendJsonString(api_key_, &request);
    }
    request += "}";

    std::string answer;
    long status = 0;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
      *error = kBackendFailedMessage;
      return false;
    }
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Accept: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kBackendTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    win::JsonValue root;
    const bool parsed =
        result == CURLE_OK && win::server::ParseJson(answer, &root, nullptr) && root.is_object();
    if (parsed && status == 200 &&
        win::server::GetJsonString(root, "translatedText", translation) && !translation->empty())
      return true;
    std::string message;
    if (parsed && win::server::GetJsonString(root, "error", &message) && !message.empty()) {
      *error = message;
    } else {
      *error = kBackendFailedMessage;
    }
    return false;
  }

 private:
  const std::string url_;
  const std::string api_key_;
};

}  // namespace

bool ParseTranslateRequest(std::string_view body, TranslateRequest* out, std::string* error) {
  win::JsonValue root;
  TranslateRequest request;
  const bool ok = win::server::ParseJson(body, &root, nullptr) && root.is_object() &&
                  win::server::GetJsonString(root, "text", &request.text) &&
                  !request.text.empty() && request.text.size() <= kMaxTextBytes &&
                  (win::server::GetJsonString(root, "to", &request.target) ||
                   win::server::GetJsonString(root, "lang", &request.target)) &&
                  KnownTarget(request.target);
  if (!ok) {
    *error = kBadRequestMessage;
    return false;
  }
  *out = std::move(request);
  return true;
}

std::string TranslationBody(std::string_view text) {
  std::string body = "{\"_res\":\"ok\",\"text\":";
  win::server::AppendJsonString(text, &body);
  return body + "}";
}

std::string TranslationFailureBody(std::string_view code, std::string_view message) {
  std::string body = "{\"_res\":\"fail\",\"code\":";
  win::server::AppendJsonString(code, &body);
  body += ",\"msg\":";
  win::server::AppendJsonString(message, &body);
  return body + "}";
}

std::unique_ptr<TranslationBackend> MakeLibreTranslateBackend(std::string url,
                                                              std::string api_key) {
  return std::make_unique<LibreTranslateBackend>(std::move(url), std::move(api_key));
}

std::string LibreTranslateCode(std::string_view kavi_code) {
  for (const auto& [kavi, libre] : kTargets) {
    if (kavi == kavi_code) return std::string(libre);
  }
  return {};
}

Translator::Translator(const Dictionary* dictionary, std::unique_ptr<TranslationBackend> machine)
    : dictionary_(dictionary), machine_(std::move(machine)) {}

std::string Translator::Answer(std::string_view body) const {
  TranslateRequest request;
  std::string error;
  if (!ParseTranslateRequest(body, &request, &error))
    return TranslationFailureBody("bad_request", error);
  std::string translation;
  if (request.target == "dict") {
    if (dictionary_ == nullptr)
      return TranslationFailureBody("no_dictionary", kNoDictionaryMessage);
    if (!dictionary_->Lookup(request.text, &translation))
      return TranslationFailureBody("not_found", kNotFoundMessage);
    return TranslationBody(translation);
  }
  if (!machine_) return TranslationFailureBody("no_backend", kNoBackendMessage);
  if (!machine_->Translate(request.text, request.target, &translation, &error))
    return TranslationFailureBody("backend_failed", error);
  return TranslationBody(translation);
}

}  // namespace kavi::service
