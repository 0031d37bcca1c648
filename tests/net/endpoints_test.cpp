// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "net/service_endpoints.h"
#include "tests/common/child_process.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::testing {
namespace {

constexpr char kShipped[] =
    R"({"service_base_url": "https://service.example:8443", "companion_base_url":
        "https://companion.example", "extra_ca_bundle": ""})";

TEST(ServiceEndpointsTest, TheUsersFileOverridesTheShippedOneKeyByKey) {
  TempDir dir;
  WriteFile(dir.path() / "shipped.json", kShipped);
  std::string problems;
  ServiceEndpoints endpoints =
      LoadServiceEndpoints(dir.path() / "shipped.json", dir.path() / "none.json", &problems);
  EXPECT_EQ(endpoints.service_base_url, "https://service.example:8443");
  EXPECT_EQ(endpoints.companion_base_url, "https://companion.example");
  EXPECT_TRUE(endpoints.extra_ca_bundle.empty());
  EXPECT_TRUE(problems.empty()) << problems;

  WriteFile(dir.path() / "user" / "endpoints.json",
            R"({"service_base_url": "https://127.0.0.1:9443", "extra_ca_bundle": "ca.pem",
                "a_later_key": 1})");
  endpoints = LoadServiceEndpoints(dir.path() / "shipped.json",
                                   dir.path() / "user" / "endpoints.json", &problems);
  EXPECT_EQ(endpoints.service_base_url, "https://127.0.0.1:9443");
  EXPECT_EQ(endpoints.companion_base_url, "https://companion.example");
  EXPECT_EQ(endpoints.extra_ca_bundle, dir.path() / "user" / "ca.pem");
  EXPECT_TRUE(problems.empty()) << problems;

  // A user file with a bad value is skipped whole, and says so.
  for (const char* bad :
       {R"({"service_base_url": "http://127.0.0.1"})", R"({"service_base_url": "https://h/"})",
        R"({"companion_base_url": 5})", "not json"}) {
    WriteFile(dir.path() / "user" / "endpoints.json", bad);
    endpoints = LoadServiceEndpoints(dir.path() / "shipped.json",
                                     dir.path() / "user" / "endpoints.json", &problems);
    EXPECT_EQ(endpoints.service_base_url, "https://service.example:8443") << bad;
    EXPECT_NE(problems.find("endpoints.json"), std::string::npos) << bad;
  }
}

TEST(ServiceEndpointsTest, SettingAndClearingTheUsersKeys) {
  TempDir dir;
  const std::filesystem::path file = dir.path() / "config" / "endpoints.json";
  std::string message;
  ASSERT_TRUE(SetUserEndpoint(file, kServiceBaseUrlKey, "https://kavi.example", &message));
  ASSERT_TRUE(SetUserEndpoint(file, kExtraCaBundleKey, "/etc/kavi/ca.pem", &message));
  EXPECT_EQ(ReadFile(file),
            "{\n  \"extra_ca_bundle\": \"/etc/kavi/ca.pem\",\n"
            "  \"service_base_url\": \"https://kavi.example\"\n}\n");
  EXPECT_FALSE(SetUserEndpoint(file, kServiceBaseUrlKey, "https://u:p@kavi.example", &message));
  EXPECT_EQ(message,
            "service_base_url must be an https URL without credentials, fragment or trailing "
            "slash, not \"https://u:p@kavi.example\"");
  EXPECT_FALSE(SetUserEndpoint(file, "proxy", "x", &message));
  ASSERT_TRUE(SetUserEndpoint(file, kServiceBaseUrlKey, "", &message));
  ASSERT_TRUE(SetUserEndpoint(file, kExtraCaBundleKey, "", &message));
  EXPECT_EQ(ReadFile(file), "{\n}\n");
}

// KaviSettings reads and writes the endpoint keys beside the configuration pair.
TEST(ServiceEndpointsTest, KaviSettingsSetsThem) {
  TempDir dir;
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--config-dir", dir.path().string()});
    const pid_t pid = SpawnChild(std::filesystem::path(KAVI_BINARY_DIR) / "bin" / "KaviSettings",
                                 args, {"HOME=" + dir.path().string()});
    int status = -1;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run({"--set", "service_base_url=https://127.0.0.1:9443", "--set",
                 "extra_ca_bundle=/srv/ca.pem"}),
            0);
  std::string problems;
  const ServiceEndpoints endpoints = LoadServiceEndpoints(
      std::filesystem::path(KAVI_BINARY_DIR) / "bin" / "data" / kEndpointsFileName,
      dir.path() / kEndpointsFileName, &problems);
  EXPECT_EQ(endpoints.service_base_url, "https://127.0.0.1:9443");
  EXPECT_EQ(endpoints.companion_base_url, "https://localhost:8444");  // the shipped default
  EXPECT_EQ(endpoints.extra_ca_bundle, "/srv/ca.pem");
  // Invalid: nothing changes, the configuration pair included.
  EXPECT_EQ(run({"--set", "page_size=7", "--set", "companion_base_url=http://x"}), 2);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "config.json"));
}

}  // namespace
}  // namespace kavi::win::testing
