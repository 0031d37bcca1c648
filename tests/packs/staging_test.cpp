// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "packs/data_generation.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::server {
namespace {
namespace fs = std::filesystem;
using kavi::win::testing::ReadFile;
using kavi::win::testing::TempDir;
using kavi::win::testing::WriteFile;

constexpr char kIdentityOptions[] = " -DVERSION=0.5.1 -DRELEASE_FILE=.kavi-release";

// Runs the build's staging script as the build does, and returns the identity it wrote.
std::string Stage(const fs::path& source, const fs::path& destination,
                  const std::string& options = kIdentityOptions) {
  std::string command = std::string("'") + KAVI_CMAKE_COMMAND + "' -DSOURCE='" + source.string() +
                        "' -DDESTINATION='" + destination.string() + "'" + options + " -P '" +
                        KAVI_SOURCE_DIR + "/cmake/StageData.cmake'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return ReadReleaseIdentity(destination);
}

TEST(StagingTest, IdentityFollowsEveryChangeOfTheShippedData) {
  TempDir dir;
  fs::path source = dir.path() / "data", staged = dir.path() / "bin" / "data";
  WriteFile(source / "schemas" / "a.yaml", "a\n");
  WriteFile(source / "themes" / "b.yaml", "b\n");
  WriteFile(source / ".hidden", "h\n");

  std::string first = Stage(source, staged);
  EXPECT_TRUE(std::regex_match(first, std::regex(R"(0\.5\.1\+[0-9a-f]{16})"))) << first;
  EXPECT_EQ(ReadFile(staged / "themes" / "b.yaml"), "b\n");
  EXPECT_EQ(ReadFile(staged / ".hidden"), "h\n");
  EXPECT_EQ(ReadFile(staged / ".kavi-release"), first + "\n");

  auto stamp = fs::last_write_time(staged / ".kavi-release");
  EXPECT_EQ(Stage(source, staged), first);
  EXPECT_EQ(fs::last_write_time(staged / ".kavi-release"), stamp);

  WriteFile(source / "themes" / "b.yaml", "B\n");
  std::string changed = Stage(source, staged);
  EXPECT_NE(changed, first);

  // Moving a file changes the identity too, and the staged copy follows the source.
  fs::rename(source / "schemas" / "a.yaml", source / "schemas" / "c.yaml");
  std::string moved = Stage(source, staged);
  EXPECT_NE(moved, changed);
  EXPECT_FALSE(fs::exists(staged / "schemas" / "a.yaml"));
  EXPECT_EQ(ReadFile(staged / "schemas" / "c.yaml"), "a\n");

  // A ".kavi-release" in the source is not shipped data: the build's identity wins.
  WriteFile(source / ".kavi-release", "forged\n");
  EXPECT_EQ(Stage(source, staged), moved);
}

TEST(StagingTest, SoundsAreMirroredOnlyWhileTheyExist) {
  TempDir dir;
  fs::path source = dir.path() / "sounds", staged = dir.path() / "bin" / "sounds";
  WriteFile(source / "key.caf", "caf");
  EXPECT_EQ(Stage(source, staged, ""), "");
  EXPECT_EQ(ReadFile(staged / "key.caf"), "caf");
  EXPECT_FALSE(fs::exists(staged / ".kavi-release"));
  fs::remove_all(source);
  Stage(source, staged, "");
  EXPECT_FALSE(fs::exists(staged));
}

TEST(StagingTest, BuildTreeCarriesStagedDataWithIdentity) {
  fs::path staged = fs::path(KAVI_BINARY_DIR) / "bin" / "data";
  EXPECT_TRUE(
      std::regex_match(ReadReleaseIdentity(staged), std::regex(R"(0\.5\.1\+[0-9a-f]{16})")));
}

}  // namespace
}  // namespace kavi::win::server
