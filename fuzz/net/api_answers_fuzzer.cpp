// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as answers of Kavi's service: the report answer, the two snapshots and the
// translation and polish answers, under a status taken from the first byte. Whatever they hold,
// the readers must give either a result within their limits or an error, never both.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "net/kavi_api_client.h"

using namespace kavi::win;

namespace {

using kavi::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr uint32_t kStatuses[] = {200, 200, 200, 200, 304, 404, 429, 503};
  const uint32_t status = kStatuses[data[0] % 8];
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string error;

  CloudReportResult report;
  if (ParseReportAnswer(status, body, &report, &error)) {
    // The service's code is the reason as it came, even an empty one.
    Check(error.empty() && report.outcome <= 3);
    Check(status == 200 || report.reason == "http_" + std::to_string(status));
    Check(report.retry_after_ms >= 0 && report.retry_after_ms <= kMaxRetryAfterMs);
    Check(report.outcome == 3 || report.retry_after_ms == 0);
  } else {
    Check(!error.empty());
  }
  const int64_t delay = RetryDelayMs(body);
  Check(delay >= 0 && delay <= kMaxRetryAfterMs);

  CloudSnapshot<CloudHotItem> hot;
  if (ParseHotSnapshot(status, body, &hot, &error)) {
    Check(hot.items.size() <= kMaxHotItems && hot.not_modified == (status == 304));
    for (const CloudHotItem& item : hot.items)
      Check(!item.word.empty() && !item.reading.empty() && item.frequency >= 0);
  } else {
    Check(hot.items.empty() && !error.empty());
  }
  CloudSnapshot<CloudBigramItem> pairs;
  if (ParseBigramSnapshot(status, body, &pairs, &error)) {
    Check(pairs.items.size() <= kMaxBigramItems);
    for (const CloudBigramItem& item : pairs.items)
      Check(!item.earlier.empty() && !item.following.empty() && item.weight >= 0);
  } else {
    Check(pairs.items.empty() && !error.empty());
  }
  std::string text;
  if (ParseTextAnswer(status, body, "invalid translation response", &text, &error)) {
    Check(status == 200 && error.empty());
  } else {
    Check(text.empty() && !error.empty());
  }
  return 0;
}
