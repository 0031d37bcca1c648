// SPDX-License-Identifier: Apache-2.0
#include "platform/autostart/autostart.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {
using testing::ScopedAtomicWriteFault;
namespace fs = std::filesystem;
using kavi::win::testing::ReadFile;
using kavi::win::testing::TempDir;

// desktop-file-validate's verdict: its exit status and everything it printed.
std::pair<int, std::string> Validate(const fs::path& entry) {
  std::string command = "desktop-file-validate '" + entry.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  return {::pclose(pipe), output};
}

TEST(AutostartTest, EntryStartsTheProgramAndValidates) {
  TempDir dir;
  fs::path folder = dir.path() / "config" / "autostart";
  std::string message = "stale";
  ASSERT_TRUE(WriteAutostartEntry(folder, "/opt/Kavi Apps/KaviServer", &message)) << message;
  EXPECT_EQ(message, "");
  fs::path entry = folder / "kavi.desktop";
  std::string text = ReadFile(entry);
  EXPECT_NE(text.find("\nExec=\"/opt/Kavi Apps/KaviServer\"\n"), std::string::npos) << text;
  EXPECT_EQ(Validate(entry), std::make_pair(0, std::string()));

  // Characters that the Exec key quotes or escapes; the newer entry replaces the older one.
  ASSERT_TRUE(WriteAutostartEntry(folder, "/srv/100% \"odd\" $x `y` a\\b/KaviServer", &message));
  text = ReadFile(entry);
  EXPECT_NE(
      text.find("\nExec=\"/srv/100%% \\\\\"odd\\\\\" \\\\$x \\\\`y\\\\` a\\\\\\\\b/KaviServer\"\n"),
      std::string::npos)
      << text;
  EXPECT_EQ(Validate(entry), std::make_pair(0, std::string()));
  EXPECT_EQ(text.find("/opt/Kavi Apps"), std::string::npos);
  EXPECT_FALSE(fs::exists(folder / "kavi.desktop.tmp"));
}

TEST(AutostartTest, RejectsWhatCannotBeAnEntry) {
  TempDir dir;
  std::string message;
  EXPECT_FALSE(WriteAutostartEntry(dir.path(), "KaviServer", &message));
  EXPECT_FALSE(message.empty());
  EXPECT_FALSE(WriteAutostartEntry(dir.path(), "/a\nb/KaviServer", &message));
  EXPECT_FALSE(fs::exists(dir.path() / "kavi.desktop"));

  testing::WriteFile(dir.path() / "file", "");
  EXPECT_FALSE(WriteAutostartEntry(dir.path() / "file" / "autostart", "/x/KaviServer", &message));
  EXPECT_NE(message.find("file/autostart"), std::string::npos) << message;
}

TEST(AutostartTest, AFailedWriteKeepsTheEntryAndNamesTheFile) {
  TempDir dir;
  std::string message;
  ASSERT_TRUE(WriteAutostartEntry(dir.path(), "/old/KaviServer", &message));
  const std::string old_entry = ReadFile(dir.path() / "kavi.desktop");
  {
    ScopedAtomicWriteFault fault(AtomicWriteStep::kFlush);
    EXPECT_FALSE(WriteAutostartEntry(dir.path(), "/new/KaviServer", &message));
  }
  EXPECT_EQ(message,
            "autostart: " + (dir.path() / "kavi.desktop").string() + ": Input/output error");
  EXPECT_EQ(ReadFile(dir.path() / "kavi.desktop"), old_entry);
  EXPECT_FALSE(fs::exists(dir.path() / "kavi.desktop.tmp"));

  // Another writer busy with the temporary file: the entry is left to it.
  const int other = ::open((dir.path() / "kavi.desktop.tmp").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  EXPECT_FALSE(WriteAutostartEntry(dir.path(), "/new/KaviServer", &message));
  EXPECT_NE(message.find("kavi.desktop.tmp: "), std::string::npos) << message;
  EXPECT_EQ(ReadFile(dir.path() / "kavi.desktop"), old_entry);
  ::close(other);
  ASSERT_TRUE(WriteAutostartEntry(dir.path(), "/new/KaviServer", &message)) << message;
  EXPECT_NE(ReadFile(dir.path() / "kavi.desktop").find("/new/KaviServer"), std::string::npos);
}

}  // namespace
}  // namespace kavi::win
