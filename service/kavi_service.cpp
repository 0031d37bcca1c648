// SPDX-License-Identifier: Apache-2.0
#include "service/kavi_service.h"

#include <system_error>

#include "platform/log.h"
#include "service/voice_polish.h"

namespace kavi::service {
namespace {

constexpr char kTestPrefix[] = "/_test/";

HttpResponseOut NotFound() {
  return HttpResponseOut::Text(404, "not found\n");
}
HttpResponseOut WrongMethod(const char* allowed) {
  HttpResponseOut out = HttpResponseOut::Text(405, "method not allowed\n");
  out.headers.emplace_back("Allow", allowed);
  return out;
}
bool IsGet(const HttpRequestIn& request) {
  return request.method == "GET" || request.method == "HEAD";
}

}  // namespace

bool KaviService::Open(const ServiceConfig& config, std::string* error) {
  config_ = config;
  store_ = OpenSqliteCloudStore(config.database, error);
  if (!store_) return false;
  if (!config.dictionary.empty()) {
    dictionary_ = std::make_unique<Dictionary>();
    if (!dictionary_->Load(config.dictionary, error)) return false;
  }
  std::unique_ptr<TranslationBackend> machine;
  if (!config.libretranslate_url.empty())
    machine = MakeLibreTranslateBackend(config.libretranslate_url, config.libretranslate_api_key);
  translator_ = std::make_unique<Translator>(dictionary_.get(), std::move(machine));
  rate_limit_ = std::make_unique<ReportRateLimit>(config.reports_per_minute);
  if (!config.scheme_packs.empty()) {
    // The packs' files are served like any other static file: ranges, faults and all.
    config_.static_trees.push_back({kSchemePacksPath, config.scheme_packs});
    scheme_packs_ = std::make_unique<SchemePackCatalog>(config.scheme_packs);
  }
  return true;
}

HttpResponseOut KaviService::Handle(const HttpRequestIn& request) {
  if (config_.test_switches) {
    if (request.path.starts_with(kTestPrefix)) return TestSwitch(request);
    log_.Add(request);
  }
  std::optional<PathFault> fault =
      config_.test_switches ? faults_.Take(request.path) : std::nullopt;
  if (!fault) return Route(request, false);
  HttpResponseOut out = fault->status != 0
                            ? HttpResponseOut::Text(fault->status, "fault switched on\n")
                            : Route(request, fault->ignore_range);
  if (fault->status == 302 || fault->status == 301) out.headers.emplace_back("Location", "/moved");
  out.faults = fault->delivery;
  return out;
}

HttpResponseOut KaviService::Route(const HttpRequestIn& request, bool ignore_range) {
  const std::string& path = request.path;
  if (path == "/cloud/report") {
    return request.method == "POST" ? Report(request) : WrongMethod("POST");
  }
  if (path == "/cloud/hot" || path == "/cloud/bigram") {
    return IsGet(request) ? Snapshot(request, path == "/cloud/hot") : WrongMethod("GET, HEAD");
  }
  if (path == "/translate") {
    if (request.method != "POST") return WrongMethod("POST");
    return HttpResponseOut::Json(200, translator_->Answer(request.body));
  }
  if (path == "/voice/polish") {
    return request.method == "POST" ? Polish(request) : WrongMethod("POST");
  }
  if (path == kSchemePacksPath && scheme_packs_) {
    return IsGet(request) ? PackManifest(request) : WrongMethod("GET, HEAD");
  }
  if (!IsGet(request)) return NotFound();
  return Static(request, ignore_range);
}

HttpResponseOut KaviService::PackManifest(const HttpRequestIn& request) {
  const std::string base = config_.public_base_url.empty()
                               ? OriginFromHost(request.Header("Host"))
                               : config_.public_base_url;
  if (base.empty()) return HttpResponseOut::Text(400, "missing or invalid Host\n");
  std::string json, error;
  if (!scheme_packs_->Manifest(base, &json, &error)) {
    win::LogLine("[kavi-service] " + error + "\n");
    return HttpResponseOut::Json(503, "{\"_res\":\"unavailable\"}");
  }
  return HttpResponseOut::Json(200, std::move(json));
}

HttpResponseOut KaviService::Report(const HttpRequestIn& request) {
  int64_t retry_after = 0;
  if (!rate_limit_->Admit(request.peer, std::chrono::steady_clock::now(), &retry_after))
    return HttpResponseOut::Json(200, ReportRefusedBody(TryLaterCode(retry_after)));
  ReportBatch batch;
  const std::string code = ParseReportBatch(request.body, &batch);
  if (!code.empty()) return HttpResponseOut::Json(200, ReportRefusedBody(code));
  bool counted = false;
  std::string error;
  if (!store_->AddBatch(batch, &counted, &error)) {
    win::LogLine("[kavi-service] " + error + "\n");
    return HttpResponseOut::Json(503, ReportRefusedBody("store_failed"));
  }
  return HttpResponseOut::Json(200, ReportAcceptedBody());
}

HttpResponseOut KaviService::Snapshot(const HttpRequestIn& request, bool hot) {
  SnapshotBody body;
  {
    std::lock_guard<std::mutex> hold(snapshot_mutex_);
    CachedSnapshot& cached = hot ? hot_ : bigram_;
    const auto now = std::chrono::steady_clock::now();
    const uint64_t generation = store_->Generation();
    const bool stale = cached.generation != generation &&
                       now - cached.computed >= std::chrono::seconds(config_.snapshot_seconds);
    if (cached.generation == 0 || stale) {
      std::string error;
      bool read;
      if (hot) {
        std::vector<WordCount> words;
        read = store_->TopWords(config_.hot_limit, &words, &error);
        if (read) cached.body = MakeHotSnapshot(words);
      } else {
        std::vector<PairCount> pairs;
        read = store_->TopPairs(config_.bigram_limit, &pairs, &error);
        if (read) cached.body = MakeBigramSnapshot(pairs);
      }
      if (!read) {
        win::LogLine("[kavi-service] " + error + "\n");
        return HttpResponseOut::Json(503, ReportRefusedBody("store_failed"));
      }
      cached.generation = generation;
      cached.computed = now;
    }
    body = cached.body;
  }
  HttpResponseOut out;
  if (IfNoneMatchHits(request.Header("If-None-Match"), body.hash)) {
    out.status = 304;
  } else {
    out = HttpResponseOut::Json(200, std::move(body.json));
  }
  out.headers.emplace_back("ETag", "\"" + body.hash + "\"");
  return out;
}

HttpResponseOut KaviService::Polish(const HttpRequestIn& request) {
  std::string text, error;
  PolishOptions options;
  if (!ParsePolishRequest(request.body, &text, &options, &error))
    return HttpResponseOut::Json(200, TranslationFailureBody("bad_request", error));
  return HttpResponseOut::Json(200, TranslationBody(PolishText(text, options)));
}

HttpResponseOut KaviService::Static(const HttpRequestIn& request, bool ignore_range) {
  std::filesystem::path file;
  if (!ResolveStaticFile(config_.static_trees, request.path, &file)) return NotFound();
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return NotFound();
  HttpResponseOut out;
  out.headers.emplace_back("Content-Type", ContentTypeFor(file));
  out.headers.emplace_back("Accept-Ranges", "bytes");
  out.file = file;
  out.file_length = size;
  const std::string_view range_header = request.Header("Range");
  if (ignore_range || range_header.empty()) return out;
  const ByteRange range = ParseRangeHeader(range_header, size);
  switch (range.kind) {
    case ByteRange::Kind::kWhole:
      return out;
    case ByteRange::Kind::kUnsatisfiable: {
      HttpResponseOut refused = HttpResponseOut::Text(416, "range not satisfiable\n");
      refused.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
      return refused;
    }
    case ByteRange::Kind::kPart:
      out.status = 206;
      out.file_offset = range.offset;
      out.file_length = range.length;
      out.headers.emplace_back("Content-Range",
                               "bytes " + std::to_string(range.offset) + "-" +
                                   std::to_string(range.offset + range.length - 1) + "/" +
                                   std::to_string(size));
      return out;
  }
  return out;
}

HttpResponseOut KaviService::TestSwitch(const HttpRequestIn& request) {
  if (request.path == "/_test/faults") {
    if (request.method == "DELETE") {
      faults_.Clear();
      return HttpResponseOut::Json(200, "{\"_res\":\"ok\"}");
    }
    if (request.method != "POST") return WrongMethod("POST, DELETE");
    std::string path, error;
    PathFault fault;
    if (!ParsePathFault(request.body, &path, &fault, &error))
      return HttpResponseOut::Text(400, error + "\n");
    faults_.Set(path, fault);
    return HttpResponseOut::Json(200, "{\"_res\":\"ok\"}");
  }
  if (request.path == "/_test/requests") {
    if (request.method == "DELETE") {
      log_.Clear();
      return HttpResponseOut::Json(200, "{\"_res\":\"ok\"}");
    }
    return IsGet(request) ? HttpResponseOut::Json(200, log_.Json()) : WrongMethod("GET, DELETE");
  }
  return NotFound();
}

}  // namespace kavi::service
