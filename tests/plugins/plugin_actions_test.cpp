#include "plugins/plugin_actions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kavi::win {
namespace {

constexpr uint32_t Kind(PluginItemKind kind) {
  return static_cast<uint32_t>(kind);
}

PluginAsyncResult RunAction(PluginItemKind kind, std::string payload,
                            PluginActionServices services) {
  return StartPluginAction(Kind(kind), std::move(payload), std::move(services)).get();
}

TEST(PluginActions, TranslationReadsTheClipboardFirst) {
  PluginActionServices services;
  services.read_clipboard = [] { return std::string(); };
  services.translate = [](const std::string&, const std::string&, std::string*, std::string*) {
    ADD_FAILURE() << "nothing to translate";
    return false;
  };
  PluginAsyncResult result = RunAction(PluginItemKind::TranslateClipboard, "en", services);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.error_text, "剪貼板為空");

  services.read_clipboard = [] { return std::string("你好"); };
  services.translate = [](const std::string& text, const std::string& target,
                          std::string* translation, std::string*) {
    *translation = text + "->" + target;
    return true;
  };
  result = RunAction(PluginItemKind::TranslateClipboard, "en", services);
  EXPECT_EQ(result.status, 1u);
  EXPECT_EQ(result.result_text, "你好->en");
  EXPECT_TRUE(result.error_text.empty());

  services.translate = [](const std::string&, const std::string&, std::string*,
                          std::string* error) {
    *error = "service said no";
    return false;
  };
  result = RunAction(PluginItemKind::TranslateClipboard, "jp", services);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.error_text, "service said no");
}

TEST(PluginActions, TwoFactorActionsWithoutTheCompanionClient) {
  EXPECT_EQ(RunAction(PluginItemKind::LoadTwoFactor, "", {}).error_text, "二步驗證服務未就緒");
  EXPECT_EQ(RunAction(PluginItemKind::RequestCode, "id", {}).error_text, "二步驗證服務未就緒");

  PluginActionServices services;
  services.request_code = [](const std::string& id, std::string* code, std::string*) {
    *code = "123456 for " + id;
    return true;
  };
  PluginAsyncResult result = RunAction(PluginItemKind::RequestCode, "entry-7", services);
  EXPECT_EQ(result.status, 1u);
  EXPECT_EQ(result.result_text, "123456 for entry-7");
  EXPECT_EQ(RunAction(PluginItemKind::Commit, "", services).status, 0u);
}

TEST(PluginJobs, ANewJobSupersedesARunningOne) {
  std::promise<void> release_first;
  std::shared_future<void> first_gate = release_first.get_future().share();
  PluginActionServices slow;
  slow.fetch_two_factor = [first_gate](std::string*) {
    first_gate.wait();
    return true;
  };
  PluginActionServices fast;
  fast.request_code = [](const std::string&, std::string* code, std::string*) {
    *code = "42";
    return true;
  };

  PluginJobs jobs;
  uint32_t kind;
  PluginAsyncResult result;
  jobs.Start(Kind(PluginItemKind::LoadTwoFactor),
             StartPluginAction(Kind(PluginItemKind::LoadTwoFactor), "", slow));
  EXPECT_FALSE(jobs.TakeFinished(&kind, &result));
  jobs.Start(Kind(PluginItemKind::RequestCode),
             StartPluginAction(Kind(PluginItemKind::RequestCode), "x", fast));
  EXPECT_EQ(jobs.superseded_count(), 1u);

  while (!jobs.TakeFinished(&kind, &result))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(kind, Kind(PluginItemKind::RequestCode));
  EXPECT_EQ(result.result_text, "42");
  EXPECT_FALSE(jobs.has_current());

  jobs.ReapSuperseded();
  EXPECT_EQ(jobs.superseded_count(), 1u);  // still waiting on its gate
  release_first.set_value();
  jobs.WaitAll();
  EXPECT_EQ(jobs.superseded_count(), 0u);
}

TEST(PluginJobs, AFinishedJobIsReplacedWithoutBeingKept) {
  PluginJobs jobs;
  auto done = StartPluginAction(Kind(PluginItemKind::LoadTwoFactor), "", {});
  done.wait();
  jobs.Start(Kind(PluginItemKind::LoadTwoFactor), done);
  jobs.Start(Kind(PluginItemKind::LoadTwoFactor),
             StartPluginAction(Kind(PluginItemKind::LoadTwoFactor), "", {}));
  EXPECT_EQ(jobs.superseded_count(), 0u);
  jobs.WaitAll();
  EXPECT_FALSE(jobs.has_current());
}

}  // namespace
}  // namespace kavi::win
