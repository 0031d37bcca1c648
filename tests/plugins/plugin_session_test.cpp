// SPDX-License-Identifier: Apache-2.0
#include "plugins/plugin_session.h"

#include <gtest/gtest.h>

#include "tests/plugins/test_support.h"

namespace kavi::win {
namespace {

using namespace ::kavi::win::testing;

class SessionTest : public ::testing::Test {
 protected:
  SessionTest()
      : engine_(dir_.path(), [](std::string_view) {}),
        session_(&engine_, [this] { return context_; }) {
    dir_.Write("symbols.txt",
               "ten\ta b c d e f g h i j\nnine\t1 2 3 4 5 6 7 8 9\nfh\tx y\nfhh\tz\n");
  }

  // Opens plug-in mode with the backtick and types `text`.
  PluginSessionResult Type(std::string_view text) {
    PluginSessionResult result;
    EXPECT_TRUE(session_.Enter(keys::kBacktick, false, &result));
    for (char c : text) result = Key(static_cast<uint8_t>(c));
    return result;
  }

  PluginSessionResult Key(uint32_t key, bool enter_selects = false) {
    PluginSessionResult result;
    EXPECT_TRUE(session_.HandleKey(key, false, enter_selects, &result)) << key;
    return result;
  }

  TempDir dir_;
  PluginEngine engine_;
  PluginContext context_;
  PluginSession session_;
};

TEST_F(SessionTest, TenItemsSpanTwoPagesAndTheSelectionWrapsAroundEach) {
  PluginSessionResult r = Type("fhten");
  EXPECT_EQ(r.preedit, "`fhten");
  EXPECT_EQ(r.items.size(), 9u);
  EXPECT_EQ(r.page_count, 2u);
  EXPECT_FALSE(r.last_page);
  // No page after the last, none before the first.
  const std::pair<uint32_t, uint32_t> pages[] = {
      {']', 1}, {keys::kPageUp, 0}, {'[', 0}, {keys::kPageDown, 1}};
  for (const auto& [key, page] : pages) EXPECT_EQ(Key(key).page_index, page) << key;
  r = Key(']');
  EXPECT_EQ(r.page_index, 1u);
  EXPECT_EQ(Texts(r.items), Strings{"j"});
  EXPECT_TRUE(r.last_page);
  r = Key('1');  // the first item of page 2 is the tenth
  EXPECT_TRUE(r.commit);
  EXPECT_EQ(r.commit_text, "j");
  EXPECT_FALSE(r.active);
  EXPECT_FALSE(session_.active());

  Type("fhten");
  const std::pair<uint32_t, uint32_t> moves[] = {
      {keys::kLeft, 8}, {keys::kDown, 0}, {keys::kRight, 1}, {keys::kRight, 2}, {keys::kUp, 1}};
  for (const auto& [key, selection] : moves) EXPECT_EQ(Key(key).selection, selection) << key;
  EXPECT_EQ(Key(keys::kSpace).commit_text, "b");

  Type("fhten");
  Key(']');
  EXPECT_EQ(Key(keys::kLeft).selection, 0u);  // one item on page 2
  EXPECT_EQ(Key(keys::kReturn, /*enter_selects=*/true).commit_text, "j");
}

TEST_F(SessionTest, HighlightAndChooseWorkOnTheCurrentPage) {
  PluginSessionResult r = Type("fhten");
  Key(keys::kRight);
  // A refresh fills the result without moving anything.
  EXPECT_TRUE(session_.HandleKey(keys::kEscape, /*refresh_only=*/true, false, &r));
  EXPECT_TRUE(r.active);
  EXPECT_EQ(r.selection, 1u);
  EXPECT_TRUE(session_.Highlight(4, &r));
  EXPECT_EQ(r.selection, 4u);
  EXPECT_FALSE(session_.Highlight(9, &r));
  EXPECT_EQ(r.selection, 4u);
  Key(']');
  EXPECT_FALSE(session_.Highlight(1, &r));
  EXPECT_FALSE(session_.Choose(9, &r));
  EXPECT_TRUE(session_.Choose(3, &r));  // beyond the stored items: only refills
  EXPECT_TRUE(r.active);
  EXPECT_TRUE(session_.Choose(0, &r));
  EXPECT_EQ(r.commit_text, "j");
  EXPECT_FALSE(session_.Choose(0, &r));  // no longer active
}

TEST_F(SessionTest, CategoryItemsOpenTheCategory) {
  PluginSessionResult r = Type("fh");
  ASSERT_EQ(r.items.size(), 1u);  // only fh is in the category table
  EXPECT_EQ(r.items[0].text, "符號 xy");
  r = Key('1');
  EXPECT_TRUE(r.active);
  EXPECT_EQ(r.preedit, "`fhfh");
  EXPECT_EQ(Texts(r.items), (Strings{"x", "y", "z"}));
  EXPECT_EQ(r.items[2].kind, Kind(PluginItemKind::OpenCategory));
  r = Key('3');
  EXPECT_EQ(r.preedit, "`fhfhh");
  EXPECT_EQ(Texts(r.items), Strings{"z"});
}

TEST_F(SessionTest, LeavingByEscapeBackSpaceAndReturn) {
  PluginSessionResult r = Type("ab");
  r = Key(keys::kEscape);
  EXPECT_TRUE(r.handled);
  EXPECT_FALSE(r.active);
  EXPECT_FALSE(r.commit);
  EXPECT_TRUE(r.preedit.empty());
  EXPECT_TRUE(r.last_page);
  EXPECT_FALSE(session_.active());

  r = Type("ab");
  r = Key(keys::kBackSpace);
  EXPECT_EQ(r.preedit, "`a");
  Key(keys::kBackSpace);
  r = Key(keys::kBackSpace);
  EXPECT_FALSE(r.active);
  EXPECT_FALSE(r.commit);

  r = Type("ab");
  r = Key(keys::kReturn);
  EXPECT_FALSE(r.active);
  EXPECT_TRUE(r.commit);
  EXPECT_EQ(r.commit_text, "`ab");

  EXPECT_FALSE(session_.HandleKey(keys::kEscape, false, false, &r));
}

TEST_F(SessionTest, KeysThatTypeAndKeysThatDoNot) {
  PluginSessionResult r = Type("");
  EXPECT_TRUE(r.active);
  EXPECT_EQ(r.items.size(), 4u);  // the help page lets digits through
  r = Key('1');
  EXPECT_EQ(r.preedit, "`1");
  EXPECT_EQ(r.items[0].comment, "輸入運算符");
  for (char c : std::string_view("+(2)*3")) r = Key(static_cast<uint8_t>(c));
  EXPECT_EQ(r.preedit, "`1+(2)*3");
  EXPECT_EQ(r.items[0].text, "7");
  r = Key('@');
  r = Key(0xFFBE);  // F1
  r = Key('~');
  EXPECT_EQ(r.preedit, "`1+(2)*3");
  r = Key('=');
  r = Key('1');  // after "=" the digits choose again
  EXPECT_TRUE(r.commit);
  EXPECT_EQ(r.commit_text, "7");

  r = Type("U4");
  EXPECT_EQ(r.preedit, "`U4");
  EXPECT_EQ(r.items[0].comment, "U4");
  r = Key('e');
  r = Key('0');
  EXPECT_EQ(r.preedit, "`U4e0");
  EXPECT_EQ(r.page_count, 2u);  // 17 items
}

TEST_F(SessionTest, EnteringNeedsATriggerAndAnEngine) {
  PluginSessionResult r;
  EXPECT_FALSE(session_.Enter('v', false, &r));
  EXPECT_FALSE(session_.Enter('a', true, &r));
  EXPECT_TRUE(session_.Enter('v', true, &r));
  EXPECT_EQ(r.preedit, "v");
  EXPECT_FALSE(session_.Enter(keys::kBacktick, false, &r));  // already active
  session_.Reset();
  EXPECT_FALSE(session_.active());

  PluginSession without_engine(nullptr, [] { return PluginContext{}; });
  EXPECT_FALSE(without_engine.Enter(keys::kBacktick, false, &r));
  EXPECT_FALSE(without_engine.HandleKey('a', false, false, &r));

  for (const char* scheme : {"luna_pinyin", "double_shuangpin", "snow_ice_jp"})
    EXPECT_TRUE(PluginSession::VTriggerEnabled(scheme)) << scheme;
  for (const char* scheme : {"wubi_pinyin", "cangjie5"})
    EXPECT_FALSE(PluginSession::VTriggerEnabled(scheme)) << scheme;
}

TEST_F(SessionTest, TwoFactorAndTranslationItemsLeaveWithTheirActionsAndInfoItemsStay) {
  context_.gk_paired = true;
  PluginSessionResult r = Type("2fa");
  EXPECT_TRUE(r.has_action);  // the loading page starts the fetch at once
  EXPECT_EQ(r.action_kind, Kind(PluginItemKind::LoadTwoFactor));
  EXPECT_TRUE(r.active);

  r = Key('1');  // choosing the loading item asks again and stays
  EXPECT_TRUE(r.active);
  EXPECT_TRUE(r.has_action);
  EXPECT_EQ(r.action_kind, Kind(PluginItemKind::LoadTwoFactor));

  context_.gk_list_ready = true;
  context_.two_factor_entries = {{"a1", "GitHub", "", false}, {"b2", "Bank", "", true}};
  ASSERT_TRUE(session_.Refresh(&r));
  EXPECT_FALSE(r.has_action);
  EXPECT_EQ(Texts(r.items), (Strings{"🔐 GitHub", "🔒 Bank"}));
  r = Key('2');
  EXPECT_FALSE(r.active);
  EXPECT_FALSE(r.commit);
  EXPECT_TRUE(r.has_action);
  EXPECT_EQ(r.action_kind, Kind(PluginItemKind::RequestCode));
  EXPECT_EQ(r.action_payload, "b2");

  context_ = {};
  r = Type("2fa");  // not paired: an Info item, which stays
  r = Key('1');
  EXPECT_TRUE(r.active);
  EXPECT_FALSE(r.has_action);
  EXPECT_FALSE(r.commit);
  session_.Reset();

  r = Type("jp");
  r = Key(keys::kSpace);
  EXPECT_FALSE(r.active);
  EXPECT_TRUE(r.has_action);
  EXPECT_EQ(r.action_kind, Kind(PluginItemKind::TranslateClipboard));
  EXPECT_EQ(r.action_payload, "jp");
}

TEST(MakeUuidText, RandomVersionFour) {
  std::string a = MakeUuidText();
  std::string b = MakeUuidText();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 36u);
  for (size_t i : {8u, 13u, 18u, 23u}) EXPECT_EQ(a[i], '-');
  EXPECT_EQ(a[14], '4');
  EXPECT_NE(std::string("89ab").find(a[19]), std::string::npos);
}

}  // namespace
}  // namespace kavi::win
