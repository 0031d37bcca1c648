// SPDX-License-Identifier: Apache-2.0
// Arbitrary bytes as what kavi-service reads from its clients: the first byte picks the reader
// (report batch, translation request, voice polish request, Range header, fault switch,
// If-None-Match, configuration, dictionary text). Each must accept within its limits or refuse;
// polished text stays valid UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "service/cloud_words.h"
#include "service/dictionary.h"
#include "service/fault_switches.h"
#include "service/service_config.h"
#include "service/static_trees.h"
#include "service/translation.h"
#include "service/voice_polish.h"
#include "text/utf8.h"

using namespace kavi::service;

namespace {

using kavi::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string error;
  switch (data[0] % 8) {
    case 0: {
      ReportBatch batch;
      if (ParseReportBatch(body, &batch).empty()) {
        int64_t total = 0;
        for (const WordCount& item : batch.items) {
          Check(item.count >= 1 && item.count <= kMaxItemCount && !item.word.empty());
          total += item.count;
        }
        for (const PairCount& pair : batch.predicts) total += pair.count;
        Check(total <= kMaxBatchCount && !batch.batch_id.empty());
      }
      break;
    }
    case 1: {
      TranslateRequest request;
      if (ParseTranslateRequest(body, &request, &error))
        Check(!request.text.empty() && !request.target.empty());
      break;
    }
    case 2: {
      std::string text;
      PolishOptions options;
      if (ParsePolishRequest(body, &text, &options, &error)) Check(!text.empty());
      Check(kavi::win::IsValidUtf8(PolishText(body, PolishOptions{})));
      break;
    }
    case 3: {
      const uint64_t file_size = body.size() * 977;
      const ByteRange range = ParseRangeHeader(body, file_size);
      if (range.kind == ByteRange::Kind::kPart)
        Check(range.length > 0 && range.offset + range.length <= file_size);
      if (range.kind == ByteRange::Kind::kWhole) Check(range.length == file_size);
      break;
    }
    case 4: {
      std::string path;
      PathFault fault;
      if (ParsePathFault(body, &path, &fault, &error)) Check(!path.empty() && path[0] == '/');
      break;
    }
    case 5:
      IfNoneMatchHits(body, "0123456789abcdef");
      break;
    case 6: {
      ServiceConfig config;
      if (ParseServiceConfig(body, "/srv/kavi", &config, &error))
        Check(!config.certificate.empty() && !config.database.empty() && config.threads >= 1);
      break;
    }
    case 7: {
      Dictionary dictionary;
      std::string answer;
      if (dictionary.LoadText(body, &error)) {
        Check(dictionary.size() > 0);
        const size_t half = body.size() / 2;
        dictionary.Lookup(body.substr(half), &answer);
      }
      break;
    }
  }
  return 0;
}
