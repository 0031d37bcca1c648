// SPDX-License-Identifier: Apache-2.0
// Drives the real libovra.so through its C interface with a private user-data directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ovra/engine_api.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::testing {

struct Page {
  std::string preedit;
  int cursor = 0;
  int page_number = 0;
  int menu_count = 0;
  bool last_page = false;
  int highlighted = 0;
  std::vector<std::string> texts;
  std::vector<std::string> comments;
};

struct Commit {
  bool present = false;
  std::string text;
  std::string alternative;
  std::string input_code;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  void TearDown() override { kavi_finalize(); }

  // Settings survive an engine restart inside one process, so every test starts from defaults.
  void Start() {
    shared_dir_ = std::string(KAVI_SOURCE_DIR) + "/data";
    std::string logs = (user_dir_ / "logs").string();
    KaviTraits traits{shared_dir_.c_str(), user_dir_.c_str(), logs.c_str(), "Kavi",
                      "kavi-win",          "0.5.1",           "KaviServer", 1};
    kavi_setup(&traits);
    kavi_set_active_schemas("");
    kavi_select_schema("base_pinyin");
    kavi_initialize();
    kavi_cloud_init();
    kavi_set_page_size(5);
    kavi_set_charset("zhs");
    kavi_set_linear(false);
    kavi_set_enable_melt_eng(false);
    kavi_set_enable_ext_cjk(false);
    kavi_set_enable_predict(false);
    kavi_set_full_shape(false);
    kavi_set_good_old_caps_lock(true);
    kavi_set_option("ascii_mode", false);
    kavi_cloud_hot_clear();
    kavi_cloud_bigram_clear();
    kavi_cloud_bigram_rebuild();
    kavi_clear_composition();
    Take();
  }

  void Restart() {
    kavi_finalize();
    kavi_initialize();
    kavi_cloud_init();
  }

  static bool Key(uint32_t key, uint32_t modifiers = 0) { return kavi_process_key(key, modifiers); }

  static void Type(const std::string& text) {
    for (char c : text) EXPECT_TRUE(Key(static_cast<unsigned char>(c))) << "key " << c;
  }

  static Page Context() {
    Page page;
    KaviContext context{};
    EXPECT_TRUE(kavi_get_context(&context));
    page.preedit = context.preedit ? context.preedit : "";
    page.cursor = context.cursor;
    page.page_number = context.page_number;
    page.menu_count = context.menu_count;
    page.last_page = context.is_last_page != 0;
    page.highlighted = context.highlighted;
    for (int i = 0; i < context.num_candidates; ++i) {
      page.texts.push_back(context.candidates[i].text);
      page.comments.push_back(context.candidates[i].comment);
    }
    EXPECT_EQ(context.composition_length, static_cast<int>(page.preedit.size()));
    kavi_free_context(&context);
    return page;
  }

  static std::vector<std::string> AllTexts(int max_count = 100) {
    KaviCandidateList list{};
    std::vector<std::string> texts;
    if (!kavi_get_all_candidates(&list, max_count)) return texts;
    for (int i = 0; i < list.count; ++i) texts.push_back(list.candidates[i].text);
    kavi_free_all_candidates(&list);
    return texts;
  }

  static Commit Take() {
    Commit commit;
    KaviCommit record{};
    commit.present = kavi_get_commit(&record);
    if (commit.present) {
      commit.text = record.text;
      commit.alternative = record.alternative_text ? record.alternative_text : "";
      commit.input_code = record.input_code ? record.input_code : "";
    }
    return commit;
  }

  TempDir temp_;
  const std::filesystem::path user_dir_ = temp_.path();
  std::string shared_dir_;
};

}  // namespace kavi::win::testing
