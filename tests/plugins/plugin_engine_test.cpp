// SPDX-License-Identifier: Apache-2.0
#include "plugins/plugin_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/plugins/test_support.h"

namespace kavi::win {
namespace {

using namespace ::kavi::win::testing;

// An engine over a private data directory that records its log lines.
class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : engine_(dir_.path(), [this](std::string_view line) { log_.emplace_back(line); }) {}

  PluginPage Query(std::string_view query) { return engine_.Query(query, context_); }

  TempDir dir_;
  Strings log_;
  PluginEngine engine_;
  PluginContext context_;
};

const Strings kHelp = {"`rq 日期  `sj 時間  `xq 星期", "`1+2 計算器  `dx 數字大寫",
                       "`fh 符號  `uu 部件拆字", "`en/jp/kr 翻譯  `joy Emoji"};

TEST_F(EngineTest, HelpPageForTheBareTriggerAndIncompleteCommands) {
  for (const char* query : {"", "U", "dx", "DX", "@", "~x"}) {
    PluginPage page = Query(query);
    EXPECT_EQ(Texts(page.items), kHelp) << query;
    EXPECT_TRUE(page.digits_as_input) << query;
  }
}

TEST_F(EngineTest, CapitalUIsTheCodePointCommandAndSmallUIsNot) {
  dir_.Write("emoji.txt", "u4e00\tE\n");
  PluginPage page = Query("U4e00");
  ASSERT_FALSE(page.items.empty());
  EXPECT_EQ(page.items[0].text, "一");
  EXPECT_EQ(page.items[0].comment, "U4e00");
  EXPECT_EQ(Texts(Query("u4e00").items), Strings{"E"});
  EXPECT_TRUE(Query("UD800").items.empty());  // an empty page is the answer, not the help
}

TEST_F(EngineTest, NumbersWaitForAnOperatorAndSignedNumbersAreEmojiKeywords) {
  dir_.Write("emoji.txt", "+1\tthumb\n-1\tdown\n");
  PluginPage page = Query("5");
  EXPECT_EQ(Texts(page.items), Strings{"5"});
  EXPECT_EQ(Comments(page.items), Strings{"輸入運算符"});
  EXPECT_TRUE(page.digits_as_input);
  for (const char* waiting : {"(", "1+", "-1x"})
    EXPECT_EQ(Comments(Query(waiting).items), Strings{"輸入運算符"}) << waiting;
  EXPECT_EQ(Texts(Query("1+2").items), (Strings{"3", "1+2=3"}));
  EXPECT_EQ(Texts(Query("+1").items), Strings{"thumb"});
  EXPECT_EQ(Texts(Query("-1").items), Strings{"down"});
}

TEST_F(EngineTest, TranslationShortcutsAndTheirFallThrough) {
  dir_.Write("emoji.txt", "joy\tJ\n");
  PluginPage page = Query("zh");
  ASSERT_EQ(page.items.size(), 1u);
  EXPECT_EQ(page.items[0].text, "🌐 剪貼板翻譯");
  EXPECT_EQ(page.items[0].comment, "translate:cn");
  EXPECT_EQ(page.items[0].kind, Kind(PluginItemKind::TranslateClipboard));
  EXPECT_EQ(page.items[0].payload, "cn");
  context_.prefer_traditional = true;
  const std::pair<const char*, const char*> payloads[] = {
      {"zh", "tw"},   {"ZT", "tw"}, {"jt", "cn"}, {"fy", "en"}, {"cd", "dict"}, {"dict", "dict"},
      {"wyw", "wyw"}, {"jp", "jp"}, {"il", "il"}, {"sa", "sa"}, {"ua", "ua"}};
  for (const auto& [query, payload] : payloads) {
    SCOPED_TRACE(query);
    const PluginPage shortcut = Query(query);
    ASSERT_EQ(shortcut.items.size(), 1u);
    EXPECT_EQ(shortcut.items[0].kind, Kind(PluginItemKind::TranslateClipboard));
    EXPECT_EQ(shortcut.items[0].payload, payload);
  }
  EXPECT_EQ(Texts(Query("joy").items), Strings{"J"});
  EXPECT_TRUE(Query("enx").items.empty());  // emoji search found nothing
}

TEST_F(EngineTest, DispatchOrderOfTheWordCommands) {
  context_.now = 1707566400;  // 2024-02-10 12:00 UTC
  context_.uuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
  EXPECT_EQ(Query("RQ").items.size(), 5u);
  EXPECT_EQ(Query("ts").items[0].text, "1707566400");
  PluginPage uuid = Query("uuid");
  EXPECT_EQ(Texts(uuid.items), Strings{context_.uuid});
  EXPECT_EQ(Comments(uuid.items), Strings{"UUID"});
  EXPECT_EQ(Texts(Query("dx10").items)[0], "十");
  EXPECT_EQ(Texts(Query("DX10").items)[0], "十");
  context_.uuid.clear();
  dir_.Write("radical_pinyin.txt", "字\tid\n");
  EXPECT_EQ(Texts(Query("uuid").items), Strings{"字"});  // the component lookup of "id"
}

TEST_F(EngineTest, TwoFactorPages) {
  PluginPage page = Query("2fa");
  EXPECT_TRUE(page.two_factor_page);
  ASSERT_EQ(page.items.size(), 1u);
  EXPECT_EQ(page.items[0].text, "🔐 未登錄或登錄過期");
  EXPECT_EQ(page.items[0].comment, "請先在設置中配對");
  EXPECT_EQ(page.items[0].kind, Kind(PluginItemKind::Info));

  context_.gk_paired = true;
  page = Query("2FA");
  EXPECT_TRUE(page.two_factor_page);
  EXPECT_TRUE(page.auto_action);
  EXPECT_EQ(page.items[0].text, "⏳ 載入中...");
  EXPECT_EQ(page.items[0].comment, "正在獲取 2FA 列表");
  EXPECT_EQ(page.items[0].kind, Kind(PluginItemKind::LoadTwoFactor));

  context_.gk_list_ready = true;
  page = Query("2fa");
  EXPECT_EQ(Texts(page.items), Strings{"🔐 無 2FA 條目"});
  EXPECT_EQ(Comments(page.items), Strings{"請在手機端添加"});

  context_.two_factor_entries = {{"id-1", "GitHub", "me@x.org", false},
                                 {"id-2", "Bank", "", true},
                                 {"id-3", "Mail", "bob", false}};
  page = Query("2fa");
  EXPECT_EQ(Texts(page.items), (Strings{"🔐 GitHub (me@x.org)", "🔒 Bank", "🔐 Mail (bob)"}));
  EXPECT_EQ(Comments(page.items), (Strings{"", "仍可請求驗證碼", ""}));
  EXPECT_EQ(page.items[1].kind, Kind(PluginItemKind::RequestCode));
  EXPECT_EQ(page.items[1].payload, "id-2");
  EXPECT_FALSE(page.auto_action);
  // Every byte of the filter, in any order, somewhere in "name account".
  EXPECT_EQ(Texts(Query("2faMAI").items), Strings{"🔐 Mail (bob)"});
  EXPECT_EQ(Texts(Query("2fakn").items), Strings{"🔒 Bank"});
  EXPECT_EQ(Texts(Query("2fa ").items).size(), 3u);  // the space between name and account
  page = Query("2fazz");
  EXPECT_EQ(Texts(page.items), Strings{"🔐 無匹配的 2FA 條目"});
  EXPECT_EQ(Comments(page.items), Strings{"請調整篩選字元"});
}

TEST_F(EngineTest, MissingAndInvalidFilesAreLoggedAndTriedAgain) {
  EXPECT_TRUE(Query("joy").items.empty());
  EXPECT_TRUE(Query("joy").items.empty());
  EXPECT_EQ(log_, (Strings{"[Kavi] 無法載入 emoji 插件資料", "[Kavi] 無法載入 emoji 插件資料"}));

  log_.clear();
  dir_.Write("emoji.txt", "# only a comment\n");
  EXPECT_TRUE(Query("joy").items.empty());
  EXPECT_EQ(log_, Strings{"[Kavi] emoji 插件資料無效"});

  log_.clear();
  dir_.Write("emoji.txt", "joy\tJ\n");
  EXPECT_EQ(Texts(Query("joy").items), Strings{"J"});
  dir_.Write("emoji.txt", "joy\tchanged\n");  // kept for the life of the engine once loaded
  EXPECT_EQ(Texts(Query("joy").items), Strings{"J"});
  EXPECT_TRUE(log_.empty());

  EXPECT_TRUE(Query("fh").items.empty());
  dir_.Write("symbols.txt", "no tab here\n");
  EXPECT_TRUE(Query("fh").items.empty());
  EXPECT_EQ(log_, (Strings{"[Kavi] 無法載入符號插件資料", "[Kavi] 符號插件資料無效"}));

  log_.clear();
  EXPECT_TRUE(Query("hl").items.empty());
  dir_.Write("lunar_data.txt", "4BD0883\n");
  EXPECT_TRUE(Query("hl").items.empty());
  dir_.Write("lunar_data.txt", "4BD0883\nnot hex\n");
  EXPECT_TRUE(Query("hl").items.empty());
  EXPECT_EQ(log_, (Strings{"[Kavi] 無法載入農曆插件資料", "[Kavi] 農曆插件資料筆數無效",
                           "[Kavi] 農曆插件資料解析失敗"}));
}

TEST_F(EngineTest, ComponentVariantsAndReadings) {
  dir_.Write("radical_pinyin.txt", "好\tnv'zi\n");
  dir_.Write("radical_pinyin_full.txt", "好\tnv'zi\n𡚸\tnv\n");
  PluginPage page = Query("uu");
  EXPECT_EQ(Texts(page.items), Strings{"輸入部件拼音查字"});
  EXPECT_EQ(Comments(page.items), Strings{"如：`uunv 查含「女」的字"});
  EXPECT_EQ(log_, Strings{"[Kavi] 無法載入拼音反查資料"});

  dir_.Write("pinyin_lookup.txt", "好\thǎo\n");
  page = Query("uunv");
  EXPECT_EQ(Texts(page.items), Strings{"好"});
  EXPECT_EQ(Comments(page.items), Strings{"hǎo"});
  context_.full_components = true;
  EXPECT_EQ(Texts(Query("uunv").items), (Strings{"好", "𡚸"}));
  context_.full_components = false;
  EXPECT_EQ(Texts(Query("uunv").items), Strings{"好"});

  std::filesystem::remove(dir_.path() / "radical_pinyin_full.txt");
  context_.full_components = true;
  EXPECT_TRUE(Query("uunv").items.empty());
  EXPECT_EQ(log_.back(), "[Kavi] 無法載入部件插件資料");
  dir_.Write("radical_pinyin_full.txt", "\n");
  EXPECT_TRUE(Query("uunv").items.empty());
  EXPECT_EQ(log_.back(), "[Kavi] 部件插件資料無效");
}

// The shipped data answers every data command without a complaint. Under simplified output the
// numerals, dates and lunar dates go through the converter that the session passes (the engine's
// t2s); everything else is shown as it is.
TEST(PluginEngine, ShippedDataAnswersAndNumeralsDatesAndLunarDatesFollowTheCharset) {
  PluginEngine engine(ShippedPluginDir(), [](std::string_view line) { ADD_FAILURE() << line; });
  PluginContext context;
  context.now = 1707566400;  // 2024-02-10
  context.uuid = "0f0e0d0c-0b0a-4908-8706-050403020100";
  const auto plain = [&](std::string_view query) { return engine.Query(query, context); };
  PluginContext simplified = context;
  simplified.to_simplified = [](const std::string& text) { return "<" + text + ">"; };
  const auto converted = [&](std::string_view query) { return engine.Query(query, simplified); };
  const auto marked = [](Strings texts) {
    for (std::string& text : texts) {
      if (!text.empty()) text = "<" + text + ">";
    }
    return texts;
  };

  for (const char* query : {"dx12.30", "rq", "xq", "sj", "hl", "hln20230322", "hln", "hln2023"}) {
    const PluginPage page = plain(query);
    ASSERT_FALSE(page.items.empty()) << query;
    const PluginPage simple = converted(query);
    EXPECT_EQ(Texts(simple.items), marked(Texts(page.items))) << query;
    EXPECT_EQ(Comments(simple.items), marked(Comments(page.items))) << query;
    EXPECT_EQ(simple.digits_as_input, page.digits_as_input) << query;
  }
  for (const char* query :
       {"", "uunv", "xiao", "joy", "fh", "fhbg", "1+2", "U4e00", "uuid", "en", "dx"}) {
    const PluginPage page = plain(query);
    ASSERT_FALSE(page.items.empty()) << query;
    EXPECT_EQ(Texts(converted(query).items), Texts(page.items)) << query;
    EXPECT_EQ(Comments(converted(query).items), Comments(page.items)) << query;
  }
}

TEST(PluginEngine, QueriesFromManyThreads) {
  PluginEngine engine(ShippedPluginDir());
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      PluginContext context;
      for (int i = 0; i < 50; ++i) {
        if (engine.Query("cat", context).items.empty()) ++failures;
        if (engine.Query("1+2", context).items.empty()) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace kavi::win
