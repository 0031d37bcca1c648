// SPDX-License-Identifier: Apache-2.0
// The client of Kavi's own HTTPS service (kavi-service or whatever stands in its place): the
// cloud word report, the hot-word and word-pair snapshots, clipboard translation and voice
// polish. Each call is one blocking exchange through WinHttpClient; each turns the answer into
// a small result with stable reasons. No mutable state: calls may run on several threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_cancellation.h"
#include "net/win_http_client.h"

namespace kavi::win {

// One committed word with the count this batch carries for it (at most 50).
struct CloudWordItem {
  std::string text;     // "w"
  std::string reading;  // "p"
  uint32_t count = 0;   // "c"
};

// One word pair with its count in this batch.
struct CloudPairItem {
  std::string earlier;    // "pr"
  std::string following;  // "nx"
  uint32_t count = 0;     // "c"
};

// A report batch; its counts sum to at most 500, and a retry sends the same batch id.
struct CloudUploadBatch {
  std::string batch_id;
  std::vector<CloudWordItem> items;
  std::vector<CloudPairItem> predicts;
};

enum class CloudReportOutcome : uint32_t {
  kAccepted = 0,
  kTransient = 1,    // send the batch again later
  kPermanent = 2,    // drop the batch
  kRateLimited = 3,  // send again after retry_after_ms
};

struct CloudReportResult {
  uint32_t outcome = 0;  // a CloudReportOutcome
  // "http_" + status for a non-200 answer, else the service's code ("unknown" when absent).
  std::string reason;
  int64_t retry_after_ms = 0;
};

struct CloudHotItem {
  std::string word;      // "w"
  std::string reading;   // "p"
  double frequency = 0;  // "f"
};

struct CloudBigramItem {
  std::string earlier;    // "pr"
  std::string following;  // "nx"
  double weight = 0;      // "w"
};

template <typename Item>
struct CloudSnapshot {
  std::string hash;
  std::vector<Item> items;
  // 304: the stored snapshot (of the stored hash) stays in use; no items.
  bool not_modified = false;
};

// How the service tidies dictated text (all on by default).
struct VoicePolishOptions {
  bool punctuation = true;   // full-width punctuation next to Chinese
  bool width = true;         // full-width letters and digits to half-width
  bool spacing = true;       // a space between Chinese and Latin text
  bool fillers = true;       // filler syllables dropped
  bool closing_stop = true;  // a Chinese sentence ends with a full stop
};

inline constexpr size_t kMaxHotItems = 50000;
inline constexpr size_t kMaxBigramItems = 100000;
inline constexpr int64_t kDefaultRetryAfterMs = 150000;
inline constexpr int64_t kMaxRetryAfterMs = 600000;

class KaviApiClient {
 public:
  // `base_url` is the service's HTTPS origin without a trailing slash; `http` must outlive the
  // client.
  KaviApiClient(const WinHttpClient& http, std::string base_url);

  const std::string& base_url() const { return base_url_; }

  // POST /cloud/report. False only when no answer came back or it was unreadable.
  bool Report(const CloudUploadBatch& batch, CloudReportResult* result, std::string* error,
              HttpCancellation* cancellation = nullptr) const;
  // GET /cloud/hot and /cloud/bigram, with If-None-Match when a hash is stored.
  bool FetchHot(const std::string& stored_hash, CloudSnapshot<CloudHotItem>* snapshot,
                std::string* error, HttpCancellation* cancellation = nullptr) const;
  bool FetchBigram(const std::string& stored_hash, CloudSnapshot<CloudBigramItem>* snapshot,
                   std::string* error, HttpCancellation* cancellation = nullptr) const;
  // POST /translate with {"text", language_key: target}; language_key is "to" or "lang".
  bool Translate(const std::string& text, const std::string& language_key,
                 const std::string& target, std::string* translation, std::string* error,
                 HttpCancellation* cancellation = nullptr) const;
  // POST /voice/polish with {"text", "options"}; a longer receive time-out, 1 MiB answer limit.
  bool PolishVoiceText(const std::string& text, const VoicePolishOptions& options,
                       std::string* polished, std::string* error,
                       HttpCancellation* cancellation = nullptr) const;

 private:
  bool Exchange(HttpRequest request, HttpResponse* response, std::string* error) const;

  const WinHttpClient& http_;
  const std::string base_url_;
};

// The readers of the service's answers (used by the client; exposed for tests and fuzzing).
std::string ReportBody(const CloudUploadBatch& batch);
bool ParseReportAnswer(uint32_t status, std::string_view body, CloudReportResult* result,
                       std::string* error);
// The delay a "try_later" code asks for, in milliseconds (150000 when it names none).
int64_t RetryDelayMs(std::string_view code);
bool ParseHotSnapshot(uint32_t status, std::string_view body, CloudSnapshot<CloudHotItem>* snapshot,
                      std::string* error);
bool ParseBigramSnapshot(uint32_t status, std::string_view body,
                         CloudSnapshot<CloudBigramItem>* snapshot, std::string* error);
// For /translate and /voice/polish; `invalid` is the message of an unusable answer.
bool ParseTextAnswer(uint32_t status, std::string_view body, std::string_view invalid,
                     std::string* text, std::string* error);

}  // namespace kavi::win
