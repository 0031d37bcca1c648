// SPDX-License-Identifier: Apache-2.0
#include "plugins/plugin_actions.h"

#include <gtest/gtest.h>

#include "tests/plugins/test_support.h"

namespace kavi::win {
namespace {

using ::kavi::win::testing::Kind;

TEST(PluginActions, TranslationReadsTheClipboardFirst) {
  PluginActionServices services;
  services.read_clipboard = [] { return std::string(); };
  services.translate = [](const std::string&, const std::string&, std::string*, std::string*) {
    ADD_FAILURE() << "nothing to translate";
    return false;
  };
  PluginAsyncResult result =
      RunPluginAction(Kind(PluginItemKind::TranslateClipboard), "en", services);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.error_text, "剪貼板為空");

  services.read_clipboard = [] { return std::string("你好"); };
  services.translate = [](const std::string& text, const std::string& target,
                          std::string* translation, std::string*) {
    *translation = text + "->" + target;
    return true;
  };
  result = RunPluginAction(Kind(PluginItemKind::TranslateClipboard), "en", services);
  EXPECT_EQ(result.status, 1u);
  EXPECT_EQ(result.result_text, "你好->en");
  EXPECT_TRUE(result.error_text.empty());

  services.translate = [](const std::string&, const std::string&, std::string*,
                          std::string* error) {
    *error = "service said no";
    return false;
  };
  result = RunPluginAction(Kind(PluginItemKind::TranslateClipboard), "jp", services);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.error_text, "service said no");

  services.translate = nullptr;
  result = RunPluginAction(Kind(PluginItemKind::TranslateClipboard), "jp", services);
  EXPECT_EQ(result.error_text, "翻譯服務未就緒");
}

TEST(PluginActions, TwoFactorActionsWithAndWithoutTheCompanionClient) {
  EXPECT_EQ(RunPluginAction(Kind(PluginItemKind::LoadTwoFactor), "", {}).error_text,
            "二步驗證服務未就緒");
  EXPECT_EQ(RunPluginAction(Kind(PluginItemKind::RequestCode), "id", {}).error_text,
            "二步驗證服務未就緒");

  PluginActionServices services;
  services.fetch_two_factor = [](std::string* error) {
    *error = "offline";
    return false;
  };
  services.request_code = [](const std::string& id, std::string* code, std::string*) {
    *code = "123456 for " + id;
    return true;
  };
  PluginAsyncResult result =
      RunPluginAction(Kind(PluginItemKind::RequestCode), "entry-7", services);
  EXPECT_EQ(result.status, 1u);
  EXPECT_EQ(result.result_text, "123456 for entry-7");
  result = RunPluginAction(Kind(PluginItemKind::LoadTwoFactor), "", services);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.error_text, "offline");
  EXPECT_EQ(RunPluginAction(Kind(PluginItemKind::Commit), "", services).status, 0u);
}

}  // namespace
}  // namespace kavi::win
