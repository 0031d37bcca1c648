// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "net/kavi_api_client.h"
#include "tests/common/fake_libretranslate.h"
#include "tests/net/net_test_support.h"

namespace kavi::win::testing {
namespace {

class ApiClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(SharedService().port(), 0);
    SharedService().ClearFaults();
  }
  WinHttpClient http_{SharedService().ClientOptions()};
  KaviApiClient api_{http_, SharedService().base_url()};
  std::string error_;
};

CloudUploadBatch Batch(const std::string& id, const std::string& word, uint32_t count) {
  CloudUploadBatch batch;
  batch.batch_id = id;
  batch.items = {{word, "du", count}};
  batch.predicts = {{"我", word, 1}};
  return batch;
}

TEST_F(ApiClientTest, ReportsCountOncePerBatchAndSnapshotsFollow) {
  CloudReportResult result;
  ASSERT_TRUE(api_.Report(Batch("api-1", "讀", 7), &result, &error_)) << error_;
  EXPECT_EQ(result.outcome, 0u);
  ASSERT_TRUE(api_.Report(Batch("api-1", "讀", 7), &result, &error_));  // a retry
  EXPECT_EQ(result.outcome, 0u);

  CloudSnapshot<CloudHotItem> hot;
  ASSERT_TRUE(api_.FetchHot("", &hot, &error_)) << error_;
  EXPECT_FALSE(hot.not_modified);
  EXPECT_EQ(hot.hash.size(), 64u);
  auto found = std::find_if(hot.items.begin(), hot.items.end(),
                            [](const CloudHotItem& item) { return item.word == "讀"; });
  ASSERT_NE(found, hot.items.end());
  EXPECT_EQ(found->frequency, 7);  // the retried batch counted once
  EXPECT_EQ(found->reading, "du");

  CloudSnapshot<CloudHotItem> again;
  ASSERT_TRUE(api_.FetchHot(hot.hash, &again, &error_));
  EXPECT_TRUE(again.not_modified);
  EXPECT_TRUE(again.items.empty());

  ASSERT_TRUE(api_.Report(Batch("api-2", "讀", 2), &result, &error_));
  ASSERT_TRUE(api_.FetchHot(hot.hash, &again, &error_));
  EXPECT_FALSE(again.not_modified);
  EXPECT_NE(again.hash, hot.hash);

  CloudSnapshot<CloudBigramItem> pairs;
  ASSERT_TRUE(api_.FetchBigram("", &pairs, &error_)) << error_;
  EXPECT_TRUE(std::any_of(pairs.items.begin(), pairs.items.end(), [](const CloudBigramItem& p) {
    return p.earlier == "我" && p.following == "讀" && p.weight == 2;
  }));
}

TEST_F(ApiClientTest, ReportOutcomesFromTheService) {
  CloudReportResult result;
  CloudUploadBatch big;
  big.batch_id = "api-big";
  for (int i = 0; i < 11; ++i) big.items.push_back({"字" + std::to_string(i), "zi", 50});
  ASSERT_TRUE(api_.Report(big, &result, &error_));
  EXPECT_EQ(result.outcome, 2u);
  EXPECT_EQ(result.reason, "too_many_items");

  CloudUploadBatch bad_id = Batch("has space", "字", 1);
  ASSERT_TRUE(api_.Report(bad_id, &result, &error_));
  EXPECT_EQ(result.outcome, 2u);
  EXPECT_EQ(result.reason, "bad_batch_id");

  ASSERT_EQ(SharedService().Fault(R"({"path": "/cloud/report", "status": 503})"), 200u);
  ASSERT_TRUE(api_.Report(Batch("api-3", "字", 1), &result, &error_));
  EXPECT_EQ(result.outcome, 1u);
  EXPECT_EQ(result.reason, "http_503");
}

TEST(ApiClientRateLimit, AThirdReportInAMinuteIsToldToWait) {
  KaviServiceProcess service;
  ASSERT_TRUE(service.Start("\"reports_per_minute\": 2"));
  WinHttpClient http(service.ClientOptions());
  KaviApiClient api(http, service.base_url());
  CloudReportResult result;
  std::string error;
  for (const char* id : {"r1", "r2"}) {
    ASSERT_TRUE(api.Report(Batch(id, "快", 1), &result, &error)) << error;
    EXPECT_EQ(result.outcome, 0u);
  }
  ASSERT_TRUE(api.Report(Batch("r3", "快", 1), &result, &error));
  EXPECT_EQ(result.outcome, 3u);
  EXPECT_TRUE(result.reason.starts_with("try_later: ")) << result.reason;
  EXPECT_GT(result.retry_after_ms, 0);
  EXPECT_LE(result.retry_after_ms, 60000);
  EXPECT_EQ(result.retry_after_ms % 1000, 0);
}

TEST_F(ApiClientTest, TranslationAndPolish) {
  std::string text;
  ASSERT_TRUE(api_.Translate("你好", "to", "dict", &text, &error_)) << error_;
  EXPECT_EQ(text, "你好 [nǐ hǎo] hello; hi");
  ASSERT_TRUE(api_.Translate("computer", "lang", "dict", &text, &error_)) << error_;
  EXPECT_NE(text.find("電腦 (电脑) [diàn nǎo] computer"), std::string::npos) << text;

  EXPECT_FALSE(api_.Translate("你好", "to", "en", &text, &error_));
  EXPECT_EQ(error_, "翻譯服務未設定此語言");  // the service's message, for the user
  EXPECT_FALSE(api_.Translate("", "to", "en", &text, &error_));
  EXPECT_EQ(error_, "invalid translation request");
  EXPECT_FALSE(api_.Translate("x", "target", "en", &text, &error_));
  EXPECT_EQ(error_, "invalid translation request");

  ASSERT_TRUE(api_.PolishVoiceText("嗯，我用Kavi打字,很好", {}, &text, &error_)) << error_;
  EXPECT_EQ(text, "我用 Kavi 打字，很好。");
  VoicePolishOptions plain;
  plain.spacing = plain.closing_stop = false;
  ASSERT_TRUE(api_.PolishVoiceText("我用Kavi打字", plain, &text, &error_));
  EXPECT_EQ(text, "我用Kavi打字");
}

TEST(ApiClientTranslation, OtherLanguagesGoToTheConfiguredLibreTranslate) {
  FakeLibreTranslate libre;
  KaviServiceProcess service;
  ASSERT_TRUE(service.Start("\"libretranslate_url\": \"" + libre.url() + "\""));
  WinHttpClient http(service.ClientOptions());
  KaviApiClient api(http, service.base_url());
  std::string text, error;
  ASSERT_TRUE(api.Translate("早安", "to", "jp", &text, &error)) << error;
  EXPECT_EQ(text, "[ja] 早安");
  ASSERT_EQ(libre.bodies().size(), 1u);
  EXPECT_EQ(libre.bodies()[0], R"({"format":"text","q":"早安","source":"auto","target":"ja"})");
  EXPECT_FALSE(api.Translate("早安", "to", "wyw", &text, &error));  // no LibreTranslate code
  EXPECT_EQ(error, "翻譯服務不支援此語言");
}

TEST(ApiClientTransport, AFailedExchangeIsReportedAsItsCode) {
  KaviServiceProcess service;
  ASSERT_TRUE(service.Start());
  const std::string url = service.base_url();
  service.Stop();  // nothing listens there now
  WinHttpClient http(service.ClientOptions());
  KaviApiClient api(http, url);
  CloudReportResult result;
  std::string error;
  EXPECT_FALSE(api.Report(Batch("t", "字", 1), &result, &error));
  EXPECT_EQ(error, "winhttp:12029");
}

TEST(ApiAnswers, RetryDelays) {
  const std::pair<const char*, int64_t> cases[] = {
      {"try_later: 30 seconds", 30000}, {"try_later", 150000},
      {"try_later 900s", 600000},       {"try_later:250 ms", 250},
      {"try_later 5 sec", 5000},        {"try_later 7 minutes", 150000},
      {"try_later 12", 150000},         {"try_later 99999999999999999999 ms", 600000},
      {"try_later 2 secs", 2000},       {"try_later 1 millisecond", 1},
  };
  for (const auto& [code, ms] : cases) EXPECT_EQ(RetryDelayMs(code), ms) << code;
}

TEST(ApiAnswers, ReportAnswers) {
  struct Case {
    uint32_t status;
    const char* body;
    uint32_t outcome;
    const char* reason;
    int64_t retry;
  };
  const Case cases[] = {
      {200, R"({"_res":"ok"})", 0, "unknown", 0},
      {200, R"({"_res":"fail","code":"try_later: 30 seconds"})", 3, "try_later: 30 seconds", 30000},
      {200, R"({"_res":"fail","code":"too_many_items"})", 2, "too_many_items", 0},
      {200, R"({"_res":"fail","code":"decode_failed"})", 2, "decode_failed", 0},
      {200, R"({"_res":"fail","code":"store_failed"})", 1, "store_failed", 0},
      {200, R"({"_res":"fail"})", 1, "unknown", 0},
      {503, "not json", 1, "http_503", 0},
  };
  for (const Case& c : cases) {
    CloudReportResult result;
    std::string error;
    ASSERT_TRUE(ParseReportAnswer(c.status, c.body, &result, &error)) << c.body;
    EXPECT_EQ(result.outcome, c.outcome) << c.body;
    EXPECT_EQ(result.reason, c.reason) << c.body;
    EXPECT_EQ(result.retry_after_ms, c.retry) << c.body;
  }
  CloudReportResult result;
  std::string error;
  EXPECT_FALSE(ParseReportAnswer(200, "[1]", &result, &error));
  EXPECT_EQ(error, "response root is not an object");
}

std::string HotBody(size_t count, const std::string& extra_item = {}) {
  std::string body = R"({"_res":"ok","hot":{"hash":"h","items":[)";
  for (size_t i = 0; i < count; ++i)
    body += std::string(i ? "," : "") + R"({"w":"字","p":"zi","f":1})";
  if (!extra_item.empty()) body += (count ? "," : "") + extra_item;
  return body + "]}}";
}

TEST(ApiAnswers, SnapshotAnswers) {
  CloudSnapshot<CloudHotItem> hot;
  std::string error;
  ASSERT_TRUE(ParseHotSnapshot(200, HotBody(kMaxHotItems), &hot, &error));
  EXPECT_EQ(hot.items.size(), kMaxHotItems);
  EXPECT_EQ(hot.hash, "h");
  EXPECT_FALSE(ParseHotSnapshot(200, HotBody(kMaxHotItems + 1), &hot, &error));
  EXPECT_EQ(error, "invalid cloud hot items");
  EXPECT_TRUE(hot.items.empty());

  const std::pair<std::string, std::string> bad_items[] = {
      {R"({"w":"","p":"zi","f":1})", "empty word"},
      {R"({"w":"字","p":"zi","f":-1})", "negative frequency"},
      {R"({"w":"字","p":"zi"})", "no frequency"},
      {R"({"w":"字","p":"zi","f":"1"})", "frequency as text"},
      {R"("字")", "not an object"},
  };
  for (const auto& [item, what] : bad_items) {
    EXPECT_FALSE(ParseHotSnapshot(200, HotBody(3, item), &hot, &error)) << what;
    EXPECT_EQ(error, "invalid cloud hot item") << what;
  }
  EXPECT_FALSE(ParseHotSnapshot(200, R"({"_res":"fail","hot":{}})", &hot, &error));
  EXPECT_EQ(error, "invalid cloud hot response");
  EXPECT_FALSE(ParseHotSnapshot(500, "", &hot, &error));
  EXPECT_EQ(error, "unexpected HTTP status");
  ASSERT_TRUE(ParseHotSnapshot(304, "", &hot, &error));
  EXPECT_TRUE(hot.not_modified);

  CloudSnapshot<CloudBigramItem> pairs;
  ASSERT_TRUE(ParseBigramSnapshot(
      200, R"({"_res":"ok","bigram":{"hash":"b","items":[{"pr":"我","nx":"們","w":2.5}]}})", &pairs,
      &error));
  ASSERT_EQ(pairs.items.size(), 1u);
  EXPECT_EQ(pairs.items[0].weight, 2.5);
  EXPECT_FALSE(
      ParseBigramSnapshot(200, R"({"_res":"ok","bigram":{"hash":1,"items":[]}})", &pairs, &error));
  EXPECT_EQ(error, "invalid cloud bigram items");
}

TEST(ApiAnswers, TextAnswers) {
  const std::tuple<uint32_t, const char*, bool, const char*> cases[] = {
      {200, R"({"_res":"ok","text":"hi"})", true, "hi"},
      {200, R"({"_res":"fail","code":"c","msg":"m"})", false, "m"},
      {200, R"({"_res":"fail","code":"c"})", false, "c"},
      {200, R"({"_res":"fail"})", false, "server error"},
      {200, R"({"_res":"ok"})", false, "invalid translation response"},
      {200, R"({"text":"hi"})", false, "invalid translation response"},
      {200, "[]", false, "invalid translation response"},
      {502, "", false, "HTTP 502"},
  };
  for (const auto& [status, body, ok, expected] : cases) {
    std::string text, error;
    EXPECT_EQ(ParseTextAnswer(status, body, "invalid translation response", &text, &error), ok)
        << body;
    EXPECT_EQ(ok ? text : error, expected) << body;
  }
}

}  // namespace
}  // namespace kavi::win::testing
