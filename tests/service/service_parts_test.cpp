// SPDX-License-Identifier: Apache-2.0
// The parts of kavi-service on their own: request readers, the dictionary, voice polish, the
// static trees, the store and the configuration.
#include <gtest/gtest.h>

#include "service/cloud_store.h"
#include "service/cloud_words.h"
#include "service/dictionary.h"
#include "service/fault_switches.h"
#include "service/service_config.h"
#include "service/static_trees.h"
#include "service/translation.h"
#include "service/voice_polish.h"
#include "platform/file_read.h"
#include "tests/common/temp_dir.h"

namespace kavi::service {
namespace {

using win::testing::TempDir;
using win::testing::WriteFile;

TEST(ReportBatch, ValidationCodes) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"batch_id":"b-1","items":[{"w":"你","p":"ni","c":50}],"predicts":[]})", ""},
      {R"({"batch_id":"b-1"})", ""},
      {"\xff\xfe", "decode_failed"},
      {"[1,2]", "bad_format"},
      {"{", "bad_format"},
      {R"({"items":[]})", "missing_batch_id"},
      {R"({"batch_id":""})", "missing_batch_id"},
      {R"({"batch_id":7})", "bad_batch_id"},
      {R"({"batch_id":"a b"})", "bad_batch_id"},
      {R"({"batch_id":")" + std::string(65, 'x') + "\"}", "bad_batch_id"},
      {R"({"batch_id":"b","items":{}})", "bad_format"},
      {R"({"batch_id":"b","items":[{"w":"","p":"x","c":1}]})", "bad_format"},
      {R"({"batch_id":"b","items":[{"w":"a","p":"x","c":0}]})", "item_cnt_invalid"},
      {R"({"batch_id":"b","items":[{"w":"a","p":"x","c":51}]})", "item_cnt_invalid"},
      {R"({"batch_id":"b","items":[{"w":"a","p":"x","c":1.5}]})", "item_cnt_invalid"},
      {R"({"batch_id":"b","predicts":[{"pr":"a","c":1}]})", "bad_format"},
  };
  for (const auto& [body, code] : cases) {
    ReportBatch batch;
    EXPECT_EQ(ParseReportBatch(body, &batch), code) << body;
  }
  // 500 counts in all is the most a batch may carry.
  std::string body = R"({"batch_id":"b","items":[)";
  for (int i = 0; i < 10; ++i) body += std::string(i ? "," : "") + R"({"w":"a","p":"x","c":50})";
  ReportBatch batch;
  EXPECT_EQ(ParseReportBatch(body + "]}", &batch), "");
  EXPECT_EQ(batch.items.size(), 10u);
  EXPECT_EQ(ParseReportBatch(body + R"(],"predicts":[{"pr":"a","nx":"b","c":1}]})", &batch),
            "too_many_items");
}

TEST(Snapshots, HashFollowsContentAndIfNoneMatchForms) {
  const SnapshotBody a = MakeHotSnapshot({{"你好", "nihao", 3}});
  const SnapshotBody b = MakeHotSnapshot({{"你好", "nihao", 3}});
  const SnapshotBody c = MakeHotSnapshot({{"你好", "nihao", 4}});
  EXPECT_EQ(a.hash, b.hash);
  EXPECT_NE(a.hash, c.hash);
  EXPECT_EQ(a.json, R"({"_res":"ok","hot":{"hash":")" + a.hash +
                        R"(","items":[{"f":3,"p":"nihao","w":"你好"}]}})");
  EXPECT_TRUE(IfNoneMatchHits(a.hash, a.hash));
  EXPECT_TRUE(IfNoneMatchHits("\"" + a.hash + "\"", a.hash));
  EXPECT_TRUE(IfNoneMatchHits("\"x\", W/\"" + a.hash + "\"", a.hash));
  EXPECT_TRUE(IfNoneMatchHits("*", a.hash));
  EXPECT_FALSE(IfNoneMatchHits("", a.hash));
  EXPECT_FALSE(IfNoneMatchHits("\"" + c.hash + "\"", a.hash));
}

TEST(ReportRateLimitTest, AWindowPerClient) {
  ReportRateLimit limit(2);
  const auto start = std::chrono::steady_clock::now();
  int64_t retry = 0;
  EXPECT_TRUE(limit.Admit("a", start, &retry));
  EXPECT_TRUE(limit.Admit("a", start, &retry));
  EXPECT_FALSE(limit.Admit("a", start + std::chrono::seconds(20), &retry));
  EXPECT_EQ(retry, 40);
  EXPECT_TRUE(limit.Admit("b", start, &retry));  // another client has its own window
  EXPECT_TRUE(limit.Admit("a", start + std::chrono::seconds(61), &retry));
  EXPECT_EQ(TryLaterCode(40), "try_later: 40 seconds");
}

TEST(SqliteStore, CountsABatchOnceAndKeepsItAcrossRestarts) {
  TempDir dir;
  std::string error;
  {
    auto store = OpenSqliteCloudStore(dir.path() / "cloud.sqlite3", &error);
    ASSERT_TRUE(store) << error;
    const uint64_t before = store->Generation();
    ReportBatch batch{"one", {{"字", "zi", 5}, {"詞", "ci", 9}}, {{"字", "詞", 2}}};
    bool counted = false;
    ASSERT_TRUE(store->AddBatch(batch, &counted, &error));
    EXPECT_TRUE(counted);
    ASSERT_TRUE(store->AddBatch(batch, &counted, &error));
    EXPECT_FALSE(counted);  // the same batch id again
    EXPECT_EQ(store->Generation(), before + 1);
    ASSERT_TRUE(store->AddBatch({"two", {{"字", "zi", 5}}, {}}, &counted, &error));
  }
  auto store = OpenSqliteCloudStore(dir.path() / "cloud.sqlite3", &error);
  ASSERT_TRUE(store);
  std::vector<WordCount> words;
  ASSERT_TRUE(store->TopWords(10, &words, &error));
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(words[0].word, "字");  // 10 beats 9
  EXPECT_EQ(words[0].count, 10);
  ASSERT_TRUE(store->TopWords(1, &words, &error));
  EXPECT_EQ(words.size(), 1u);
  std::vector<PairCount> pairs;
  ASSERT_TRUE(store->TopPairs(10, &pairs, &error));
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].count, 2);
  bool counted = true;
  ASSERT_TRUE(store->AddBatch({"one", {{"字", "zi", 5}}, {}}, &counted, &error));
  EXPECT_FALSE(counted);  // remembered across the restart

  EXPECT_FALSE(OpenSqliteCloudStore(dir.path() / "no" / "such" / "db", &error));
  EXPECT_TRUE(error.starts_with("sqlite: ")) << error;
}

constexpr char kSmallDictionary[] =
    "# CC-CEDICT sample\n"
    "電腦 电脑 [dian4 nao3] /computer/CL:臺|台[tai2]/\n"
    "電 电 [dian4] /electric/electricity/\n"
    "腦 脑 [nao3] /brain/\n"
    "你好 你好 [ni3 hao3] /hello; hi/\n"
    "吃 吃 [chi1] /to eat/\n"
    "綠 绿 [lu:4] /green/\n"
    "not a line\n";

TEST(DictionaryTest, LooksUpChineseByLongestWordsAndEnglishByGloss) {
  Dictionary dictionary;
  std::string error, answer;
  ASSERT_TRUE(dictionary.LoadText(kSmallDictionary, &error));
  EXPECT_EQ(dictionary.size(), 6u);
  ASSERT_TRUE(dictionary.Lookup("电脑", &answer));
  EXPECT_EQ(answer, "電腦 (电脑) [diàn nǎo] computer");
  ASSERT_TRUE(dictionary.Lookup(" 你好，電腦和腦 ", &answer));
  EXPECT_EQ(answer,
            "你好 [nǐ hǎo] hello; hi\n電腦 (电脑) [diàn nǎo] computer\n腦 (脑) [nǎo] brain");
  ASSERT_TRUE(dictionary.Lookup("Eat", &answer));
  EXPECT_EQ(answer, "吃 [chī] to eat");
  ASSERT_TRUE(dictionary.Lookup("hi", &answer));
  EXPECT_EQ(answer, "你好 [nǐ hǎo] hello; hi");
  EXPECT_FALSE(dictionary.Lookup("貓", &answer));
  EXPECT_FALSE(dictionary.Lookup("cat", &answer));
  EXPECT_FALSE(dictionary.Lookup("  ", &answer));
  EXPECT_FALSE(dictionary.LoadText("# only comments\n", &error));
}

TEST(DictionaryTest, TheShippedGzipLoadsAndACutOneIsRefused) {
  const std::filesystem::path shipped =
      std::filesystem::path(KAVI_SOURCE_DIR) / "service/data/cedict_ts.u8.gz";
  Dictionary dictionary;
  std::string error, answer;
  ASSERT_TRUE(dictionary.Load(shipped, &error)) << error;
  EXPECT_GT(dictionary.size(), 100000u);
  EXPECT_TRUE(dictionary.Lookup("电脑", &answer));

  TempDir dir;
  std::string bytes;
  ASSERT_EQ(win::ReadRegularFile(shipped, 64 << 20, &bytes), win::ReadFileResult::kRead);
  WriteFile(dir.path() / "cut.u8.gz", std::string_view(bytes).substr(0, bytes.size() / 2));
  EXPECT_FALSE(dictionary.Load(dir.path() / "cut.u8.gz", &error));
  EXPECT_EQ(error, "the dictionary " + (dir.path() / "cut.u8.gz").string() +
                       " is not a whole gzip file");
}

TEST(DictionaryTest, PinyinToneMarks) {
  const std::pair<const char*, const char*> cases[] = {
      {"ni3 hao3", "nǐ hǎo"}, {"lu:4", "lǜ"},  {"lv3", "lǚ"},   {"gou3", "gǒu"},
      {"xiong2", "xióng"},    {"gui4", "guì"}, {"liu2", "liú"}, {"ma5", "ma"},
      {"Zhong1", "Zhōng"},    {"A B", "A B"},  {"er2", "ér"},   {"nu:e4", "nüè"},
  };
  for (const auto& [numbered, marked] : cases) EXPECT_EQ(PinyinWithToneMarks(numbered), marked);
}

TEST(VoicePolishTest, Rules) {
  const PolishOptions all;
  const std::pair<const char*, const char*> cases[] = {
      {"嗯，我用Kavi輸入法打字,很好用", "我用 Kavi 輸入法打字，很好用。"},
      {"今天 天氣 很好", "今天天氣很好。"},
      {"價格是3.14元", "價格是 3.14 元。"},
      {"Ｋａｖｉ１２３很快！", "Kavi123 很快！"},
      {"好，，真的。。", "好，真的。"},
      {"真的嗎??", "真的嗎？？"},
      {"呃 呃 那我們走吧", "那我們走吧。"},
      {"恩嗯愛", "恩嗯愛。"},  // a filler inside a word stays
      {"hello, world.", "hello, world."},
      {"  ", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(PolishText(in, all), out) << in;
  PolishOptions none;
  none.full_width_punctuation = none.half_width_alphanumerics = none.space_chinese_latin = false;
  none.drop_fillers = none.closing_stop = false;
  EXPECT_EQ(PolishText("嗯，我用Kavi,  好", none), "嗯，我用Kavi, 好");

  std::string text, error;
  PolishOptions parsed;
  ASSERT_TRUE(
      ParsePolishRequest(R"({"text":"a","options":{"spacing":false}})", &text, &parsed, &error));
  EXPECT_FALSE(parsed.space_chinese_latin);
  EXPECT_TRUE(parsed.closing_stop);
  EXPECT_FALSE(ParsePolishRequest(R"({"text":""})", &text, &parsed, &error));
  EXPECT_FALSE(
      ParsePolishRequest(R"({"text":"a","options":{"spacing":1}})", &text, &parsed, &error));
}

TEST(TranslationTest, RequestsAndRouting) {
  TranslateRequest request;
  std::string error;
  ASSERT_TRUE(ParseTranslateRequest(R"({"text":"x","to":"jp"})", &request, &error));
  EXPECT_EQ(request.target, "jp");
  ASSERT_TRUE(ParseTranslateRequest(R"({"text":"x","lang":"dict"})", &request, &error));
  for (const char* bad :
       {R"({"text":"","to":"en"})", R"({"text":"x","to":"xx"})", R"({"text":"x"})", R"([])"}) {
    EXPECT_FALSE(ParseTranslateRequest(bad, &request, &error)) << bad;
    EXPECT_EQ(error, "翻譯請求無效");
  }
  EXPECT_EQ(LibreTranslateCode("jp"), "ja");
  EXPECT_EQ(LibreTranslateCode("tw"), "zt");
  EXPECT_EQ(LibreTranslateCode("wyw"), "");

  Dictionary dictionary;
  ASSERT_TRUE(dictionary.LoadText(kSmallDictionary, &error));
  const Translator translator(&dictionary, nullptr);
  EXPECT_EQ(translator.Answer(R"({"text":"吃","to":"dict"})"),
            R"({"_res":"ok","text":"吃 [chī] to eat"})");
  EXPECT_EQ(translator.Answer(R"({"text":"貓","to":"dict"})"),
            R"({"_res":"fail","code":"not_found","msg":"詞典中沒有這個詞"})");
  EXPECT_EQ(translator.Answer(R"({"text":"吃","to":"en"})"),
            R"({"_res":"fail","code":"no_backend","msg":"翻譯服務未設定此語言"})");
}

TEST(StaticTreesTest, PathsStayInsideTheirTree) {
  TempDir dir;
  WriteFile(dir.path() / "voice" / "index.json", "{}");
  WriteFile(dir.path() / "voice" / "m.gguf", "model");
  WriteFile(dir.path() / "packs" / "scheme" / "index.json", "{}");
  WriteFile(dir.path() / "secret", "no");
  const std::vector<StaticTree> trees = {{"/voice/models", dir.path() / "voice"},
                                         {"/packs", dir.path() / "packs"}};
  std::filesystem::path file;
  ASSERT_TRUE(ResolveStaticFile(trees, "/voice/models", &file));
  EXPECT_EQ(file, dir.path() / "voice" / "index.json");
  ASSERT_TRUE(ResolveStaticFile(trees, "/voice/models/m.gguf", &file));
  EXPECT_EQ(file, dir.path() / "voice" / "m.gguf");
  ASSERT_TRUE(ResolveStaticFile(trees, "/packs/scheme", &file));
  EXPECT_EQ(file, dir.path() / "packs" / "scheme" / "index.json");
  for (const char* refused :
       {"/voice/models/../../secret", "/voice/models/./m.gguf", "/voice/models//m.gguf",
        "/voice/modelsX", "/voice/models/missing", "/other", "/voice/models/a\\b"}) {
    EXPECT_FALSE(ResolveStaticFile(trees, refused, &file)) << refused;
  }
  EXPECT_EQ(ContentTypeFor(file), "application/json");
}

TEST(StaticTreesTest, RangeHeaders) {
  using Kind = ByteRange::Kind;
  const std::tuple<const char*, Kind, uint64_t, uint64_t> cases[] = {
      {"bytes=0-", Kind::kPart, 0, 100},          {"bytes=10-", Kind::kPart, 10, 90},
      {"bytes=10-19", Kind::kPart, 10, 10},       {"bytes=90-500", Kind::kPart, 90, 10},
      {"bytes=-30", Kind::kPart, 70, 30},         {"bytes=-300", Kind::kPart, 0, 100},
      {"bytes=100-", Kind::kUnsatisfiable, 0, 0}, {"bytes=-0", Kind::kUnsatisfiable, 0, 0},
      {"bytes=5-1", Kind::kWhole, 0, 100},        {"bytes=1-2,4-5", Kind::kWhole, 0, 100},
      {"items=1-2", Kind::kWhole, 0, 100},        {"bytes=x-", Kind::kWhole, 0, 100},
      {"bytes=", Kind::kWhole, 0, 100},
  };
  for (const auto& [header, kind, offset, length] : cases) {
    const ByteRange range = ParseRangeHeader(header, 100);
    EXPECT_EQ(range.kind, kind) << header;
    EXPECT_EQ(range.offset, offset) << header;
    EXPECT_EQ(range.length, length) << header;
  }
}

TEST(FaultSwitchesTest, ParsingAndCounting) {
  std::string path, error;
  PathFault fault;
  ASSERT_TRUE(ParsePathFault(R"({"path":"/a","status":503,"times":2,"ignore_range":true})", &path,
                             &fault, &error));
  EXPECT_EQ(path, "/a");
  EXPECT_TRUE(fault.ignore_range);
  for (const char* bad : {R"({"status":503})", R"({"path":"a"})", R"({"path":"/a","status":99})",
                          R"({"path":"/a","delay_ms":-1})", R"({"path":"/a","ignore_range":1})"}) {
    EXPECT_FALSE(ParsePathFault(bad, &path, &fault, &error)) << bad;
  }
  FaultSwitches switches;
  ASSERT_TRUE(ParsePathFault(R"({"path":"/a","status":503,"times":2})", &path, &fault, &error));
  switches.Set(path, fault);
  EXPECT_TRUE(switches.Take("/a"));
  EXPECT_TRUE(switches.Take("/a"));
  EXPECT_FALSE(switches.Take("/a"));  // used up
  EXPECT_FALSE(switches.Take("/b"));
}

TEST(ServiceConfigTest, ReadsResolvesAndRefuses) {
  ServiceConfig config;
  std::string error;
  ASSERT_TRUE(ParseServiceConfig(
      R"({"port": 9443, "certificate": "c.pem", "private_key": "/etc/k.pem", "database": "d.db",
          "static": [{"prefix": "/voice/models", "dir": "voice"}], "reports_per_minute": 5})",
      "/srv/kavi", &config, &error))
      << error;
  EXPECT_EQ(config.port, 9443);
  EXPECT_EQ(config.certificate, "/srv/kavi/c.pem");
  EXPECT_EQ(config.private_key, "/etc/k.pem");
  ASSERT_EQ(config.static_trees.size(), 1u);
  EXPECT_EQ(config.static_trees[0].directory, "/srv/kavi/voice");
  EXPECT_EQ(config.reports_per_minute, 5u);
  EXPECT_FALSE(config.test_switches);

  const std::pair<const char*, const char*> bad[] = {
      {R"({"certificate":"c","private_key":"k"})", "required"},
      {R"({"certificate":"c","private_key":"k","database":"d","port":70000})", "\"port\""},
      {R"({"certificate":"c","private_key":"k","database":"d","hot_limit":50001})", "hot_limit"},
      {R"({"certificate":"c","private_key":"k","database":"d","static":[{"prefix":"/a/"}]})",
       "static"},
      {R"({"certificate":"c","private_key":"k","database":"d","test_switches":"yes"})",
       "test_switches"},
      {"[]", "JSON object"},
  };
  for (const auto& [text, named] : bad) {
    EXPECT_FALSE(ParseServiceConfig(text, "/srv", &config, &error)) << text;
    EXPECT_NE(error.find(named), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace kavi::service
