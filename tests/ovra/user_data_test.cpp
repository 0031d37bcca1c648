// SPDX-License-Identifier: Apache-2.0
// The learned data beyond the binary files: the synchronised text copies that a redeploy
// rebuilds from, and the merge that keeps two servers from overwriting each other's words.
#include <libime/pinyin/pinyindictionary.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "ovra/user_data_text.h"
#include "platform/identity.h"
#include "tests/common/temp_dir.h"
#include "tests/ovra/engine_harness.h"

namespace kavi::win::testing {
namespace {

namespace fs = std::filesystem;

TEST(SyncCopyTest, FormatsAndParsesBackAndRefusesAnythingElse) {
  const UserDataText text{"你号 ni'hao 0\n世界 shi'jie -1.5\n", "世界 你好\n你号\n"};
  const std::string bytes = FormatSyncCopy("base_pinyin", text);
  UserDataText parsed;
  std::string message;
  ASSERT_TRUE(ParseSyncCopy(bytes, "base_pinyin", &parsed, &message)) << message;
  EXPECT_EQ(parsed, text);
  ASSERT_TRUE(ParseSyncCopy(FormatSyncCopy("wubi86", {}), "wubi86", &parsed, &message));
  EXPECT_EQ(parsed, UserDataText{});

  const std::string empty = FormatSyncCopy("base_pinyin", {});
  for (const std::string& bad : {
           std::string(),
           std::string("kavi-user-data 2\n") + empty.substr(17),
           FormatSyncCopy("wubi86", text),     // another scheme's copy
           bytes.substr(0, bytes.size() - 1),  // cut short
           bytes + "x",                        // trailing bytes
           std::string("kavi-user-data 1\nscheme base_pinyin\nwords 99999\nx\nhistory 0\n\n"),
           std::string("kavi-user-data 1\nscheme base_pinyin\nwords -1\n\nhistory 0\n\n"),
           std::string("kavi-user-data 1\nscheme base_pinyin\nwords 1\nab\nhistory 0\n\n"),
       }) {
    parsed = text;
    EXPECT_FALSE(ParseSyncCopy(bad, "base_pinyin", &parsed, &message)) << bad;
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(parsed, text);  // untouched
  }
}

TEST(SyncCopyTest, MergingWordsKeepsOursAndAddsOnlyWhatIsNew) {
  struct Case {
    const char* ours;
    const char* theirs;
    const char* merged;
  };
  for (const Case& c : {
           Case{"", "你号 ni'hao 0\n", "你号 ni'hao 0\n"},
           Case{"你号 ni'hao 0\n", "你号 ni'hao -3\n世界 shi'jie 0\n",
                "你号 ni'hao 0\n世界 shi'jie 0\n"},  // our cost stays
           Case{"你号 ni'hao 0", "你号 ni'hao 0\n你号 ni'hao 0\n", "你号 ni'hao 0\n"},
           Case{"a b\n", "lonely\n\n  \nc d\n", "a b\nc d\n"},    // no two fields: dropped
           Case{"aaaa 工\n", "aaaa 式\n", "aaaa 工\naaaa 式\n"},  // one code, two words
       }) {
    EXPECT_EQ(MergeWordLines(c.ours, c.theirs), c.merged) << c.ours << "|" << c.theirs;
  }
}

class UserDataEngineTest : public EngineTest {
 protected:
  fs::path db() const { return user_dir_ / "base_pinyin.userdb"; }

  // Commits the candidate `word` of `letters`, which must be among the first 100.
  void CommitWord(const std::string& letters, const std::string& word) {
    Type(letters);
    const int index = IndexOf(AllTexts(), word);
    ASSERT_GE(index, 0) << word;
    for (int page = 0; page < index / 5; ++page) ASSERT_TRUE(kavi_change_page(false));
    ASSERT_TRUE(kavi_select_candidate(index % 5));
    EXPECT_EQ(Take().text, word);
  }

  std::string RareWordOf(const std::string& letters, int rank) {
    Type(letters);
    const std::string word = AllTexts().at(static_cast<size_t>(rank));
    kavi_clear_composition();
    return word;
  }

  std::vector<std::string> CandidatesOf(const std::string& letters) {
    Type(letters);
    std::vector<std::string> texts = AllTexts();
    kavi_clear_composition();
    return texts;
  }

  static int IndexOf(const std::vector<std::string>& texts, const std::string& text) {
    auto it = std::find(texts.begin(), texts.end(), text);
    return it == texts.end() ? -1 : static_cast<int>(it - texts.begin());
  }
};

// What was learned survives a restart through the binary files alone, and the loss of those
// files (a redeploy) through the synchronised copy alone, history included: the word still
// ranks first either way.
TEST_F(UserDataEngineTest, LearningSurvivesARestartByItsFilesAndARedeployByItsSyncCopy) {
  const std::string rare = RareWordOf("shi", 37);
  for (int round = 0; round < 3; ++round) CommitWord("shi", rare);
  EXPECT_EQ(CandidatesOf("shi").at(0), rare);

  kavi_finalize();
  fs::remove_all(user_dir_ / "sync");
  kavi_initialize();
  EXPECT_EQ(CandidatesOf("shi").at(0), rare);

  kavi_finalize();
  fs::remove_all(db());
  ASSERT_TRUE(
      fs::is_regular_file(user_dir_ / "sync" / InstallationId() / "base_pinyin.userdb.txt"));
  kavi_initialize();
  EXPECT_EQ(CandidatesOf("shi").at(0), rare);

  // A maintenance job reads the dictionaries before it takes the engine down: what is learned
  // in between, and the copy the redeploy rebuilds from, still reach the restarted engine.
  kavi_prepare_restart();
  const std::string later = RareWordOf("ji", 41);
  for (int round = 0; round < 3; ++round) CommitWord("ji", later);
  kavi_finalize();
  fs::remove_all(db());
  kavi_initialize();
  EXPECT_EQ(CandidatesOf("shi").at(0), rare);
  EXPECT_EQ(CandidatesOf("ji").at(0), later);
}

TEST_F(UserDataEngineTest, SyncTakesInTheWordsOfOtherInstallations) {
  ASSERT_EQ(IndexOf(CandidatesOf("xinmiao"), "鑫淼"), -1);
  testing::WriteFile(user_dir_ / "sync" / "another-machine" / "base_pinyin.userdb.txt",
                     FormatSyncCopy("base_pinyin", {"鑫淼 xin'miao 0\n", ""}));
  // A broken copy of a third one is passed over.
  testing::WriteFile(user_dir_ / "sync" / "broken-machine" / "base_pinyin.userdb.txt", "garbage");
  kavi_sync_user_data();
  EXPECT_GE(IndexOf(CandidatesOf("xinmiao"), "鑫淼"), 0);

  // This installation's own copy now carries the word too.
  fs::remove_all(user_dir_ / "sync" / "another-machine");
  kavi_finalize();
  fs::remove_all(db());
  kavi_initialize();
  EXPECT_GE(IndexOf(CandidatesOf("xinmiao"), "鑫淼"), 0);
}

TEST_F(UserDataEngineTest, ASaveMergesTheWordsAnotherServerSavedMeanwhile) {
  const std::string rare = RareWordOf("shi", 37);
  for (int round = 0; round < 3; ++round) CommitWord("shi", rare);
  kavi_sync_user_data();

  // Another server of the same user saves its own dictionary over ours.
  {
    libime::PinyinDictionary theirs;
    theirs.addWord(libime::PinyinDictionary::UserDict, "xin'miao", "鑫淼", 0);
    std::ofstream out(db() / "user.dict.new", std::ios::binary);
    theirs.save(libime::PinyinDictionary::UserDict, out, libime::PinyinDictFormat::Binary);
  }
  fs::rename(db() / "user.dict.new", db() / "user.dict");

  CommitWord("nihao", "你好");
  kavi_sync_user_data();
  // Neither the other server's word nor ours is lost, even with the sync copies gone.
  kavi_finalize();
  fs::remove_all(user_dir_ / "sync");
  kavi_initialize();
  EXPECT_GE(IndexOf(CandidatesOf("xinmiao"), "鑫淼"), 0);
  EXPECT_EQ(CandidatesOf("shi").at(0), rare);
}

}  // namespace
}  // namespace kavi::win::testing
