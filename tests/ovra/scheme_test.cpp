// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/ovra/engine_harness.h"

namespace kavi::win::testing {
namespace {

TEST_F(EngineTest, PackSchemesAreFoundInTheBuildDirectory) {
  std::filesystem::create_directories(user_dir_ / "build");
  std::ofstream(user_dir_ / "build" / "mypack.schema.yaml")
      << "schema: {id: mypack, name: Pack, engine: pinyin}\n"
         "dictionaries: [sc.dict]\nlanguage_model: zh_CN.lm\n"
         "pinyin: {shuangpin: ziranma}\n";
  std::ofstream(user_dir_ / "build" / "broken.schema.yaml") << "schema: [unclosed\n";
  std::ofstream(user_dir_ / "build" / "missing.schema.yaml")
      << "schema: {id: missing, engine: table}\ndictionaries: [nowhere.dict]\n"
         "language_model: zh_CN.lm\n";
  std::ofstream(user_dir_ / "build" / "misnamed.schema.yaml")
      << "schema: {id: other, engine: pinyin}\ndictionaries: [sc.dict]\n"
         "language_model: zh_CN.lm\n";
  Restart();
  EXPECT_TRUE(kavi_select_schema("mypack"));
  Type("nihk");
  EXPECT_EQ(Context().texts[0], "你好");
  EXPECT_FALSE(kavi_select_schema("broken"));
  EXPECT_FALSE(kavi_select_schema("missing"));
  EXPECT_FALSE(kavi_select_schema("other"));
  EXPECT_FALSE(kavi_select_schema("misnamed"));
}

TEST_F(EngineTest, APackSchemeReplacesTheShippedOneOfItsId) {
  std::filesystem::create_directories(user_dir_ / "build");
  // Same id as a shipped scheme, another conversion: cangjie codes under the wubi86 name.
  std::ofstream(user_dir_ / "build" / "wubi86.schema.yaml")
      << "schema: {id: wubi86, name: Pack, engine: table}\n"
         "dictionaries: [cj.main.dict]\nlanguage_model: zh_CN.lm\n"
         "table: {order: \"no\", auto_select: false}\n";
  std::ofstream(user_dir_ / "build" / "odd_layout.schema.yaml")
      << "schema: {id: odd_layout, engine: pinyin}\ndictionaries: [sc.dict]\n"
         "language_model: zh_CN.lm\npinyin: {shuangpin: dvorak}\n";
  Restart();
  ASSERT_TRUE(kavi_select_schema("wubi86"));
  Type("onf");
  Page page = Context();
  ASSERT_FALSE(page.texts.empty());
  EXPECT_EQ(page.texts[0], "你");
  EXPECT_FALSE(kavi_select_schema("odd_layout")) << "an unknown layout cannot load";
  EXPECT_STREQ(kavi_get_input(), "onf") << "and the current scheme stays";
}

TEST_F(EngineTest, EachSchemeKeepsItsOwnUserData) {
  Type("nihao");
  Key(' ');
  ASSERT_TRUE(kavi_select_schema("wubi86"));
  Type("wq");
  Key(' ');
  kavi_sync_user_data();
  EXPECT_TRUE(std::filesystem::is_directory(user_dir_ / "base_pinyin.userdb"));
  EXPECT_TRUE(std::filesystem::is_directory(user_dir_ / "wubi86.userdb"));
}

}  // namespace
}  // namespace kavi::win::testing
