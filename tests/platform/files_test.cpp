// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <limits>
#include <string>

#include "platform/directories.h"
#include "platform/file_read.h"
#include "tests/common/file_faults.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {
using testing::ScopedAtomicWriteFault;
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ReadRegularFileTest, ReadsWholeFilesUpToTheBound) {
  TempDir dir;
  const fs::path file = dir.path() / "file";
  WriteFile(file, std::string(100, 'x') + "\n");
  std::string bytes = "stale";
  int error = 0;
  EXPECT_EQ(ReadRegularFile(file, 101, &bytes, &error), ReadFileResult::kRead);
  EXPECT_EQ(bytes, std::string(100, 'x') + "\n");
  EXPECT_EQ(ReadRegularFile(file, 100, &bytes, &error), ReadFileResult::kUnreadable);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(bytes, "");

  WriteFile(file, "");
  EXPECT_EQ(ReadRegularFile(file, 0, &bytes), ReadFileResult::kRead);
  EXPECT_EQ(bytes, "");

  EXPECT_EQ(ReadRegularFile(dir.path() / "missing", 10, &bytes, &error),
            ReadFileResult::kCannotOpen);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(ReadRegularFile(dir.path(), std::numeric_limits<uintmax_t>::max(), &bytes, &error),
            ReadFileResult::kUnreadable);
  EXPECT_EQ(error, EINVAL);
}

// A FIFO or a device under the name of a theme, a configuration file or a dictionary fails the
// read at once instead of waiting for a writer that never comes.
TEST(ReadRegularFileTest, AFifoOrADeviceUnderTheNameFailsAtOnce) {
  TempDir dir;
  const fs::path fifo = dir.path() / "sakura.yaml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& path : {fifo, fs::path("/dev/zero"), fs::path("/dev/null")}) {
    auto read = std::async(std::launch::async, [&] {
      std::string bytes;
      int error = 0;
      return ReadRegularFile(path, 1 << 20, &bytes, &error);
    });
    const bool finished = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
      // Release the blocked reader so the test can end.
      int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      read.wait();
      ::close(writer);
    }
    EXPECT_TRUE(finished) << path;
    EXPECT_EQ(read.get(), ReadFileResult::kUnreadable) << path;
  }
}

TEST(ReplaceFileTest, ReplacesWithThePermissionsAndReportsTheFailingStep) {
  TempDir dir;
  const fs::path target = dir.path() / "state";
  ReplaceFailure failure{AtomicWriteStep::kWrite, EIO};
  ASSERT_TRUE(ReplaceFile(target, "one", fs::perms::owner_read | fs::perms::owner_write, &failure));
  EXPECT_EQ(failure.step, AtomicWriteStep::kNone);
  EXPECT_EQ(ReadFile(target), "one");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  for (AtomicWriteStep step : {AtomicWriteStep::kCreate, AtomicWriteStep::kWrite,
                               AtomicWriteStep::kFlush, AtomicWriteStep::kRename}) {
    ScopedAtomicWriteFault fault(step);
    EXPECT_FALSE(ReplaceFile(target, "two", fs::perms::owner_read, &failure));
    EXPECT_EQ(failure.step, step);
    EXPECT_EQ(failure.error, EIO);
    EXPECT_EQ(ReadFile(target), "one");
    EXPECT_FALSE(fs::exists(dir.path() / "state.tmp"));
  }
  {
    // Past the rename the new content is in place; only its durability is in doubt.
    ScopedAtomicWriteFault fault(AtomicWriteStep::kSyncDirectory);
    EXPECT_FALSE(ReplaceFile(target, "two", fs::perms::owner_read, &failure));
    EXPECT_EQ(failure.step, AtomicWriteStep::kSyncDirectory);
    EXPECT_EQ(ReadFile(target), "two");
  }

  // A real failure carries the system's error number.
  EXPECT_FALSE(ReplaceFile(dir.path() / "missing" / "state", "x", fs::perms::owner_read, &failure));
  EXPECT_EQ(failure.step, AtomicWriteStep::kCreate);
  EXPECT_EQ(failure.error, ENOENT);
  // The rename onto a directory fails after the temporary file was written; it is removed.
  fs::create_directories(dir.path() / "folder" / "inside");
  EXPECT_FALSE(ReplaceFile(dir.path() / "folder", "x", fs::perms::owner_read, &failure));
  EXPECT_EQ(failure.step, AtomicWriteStep::kRename);
  EXPECT_NE(failure.error, 0);
  EXPECT_FALSE(fs::exists(dir.path() / "folder.tmp"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder" / "inside"));
}

TEST(ReplaceFileTest, NeverWiderThanAskedWhateverTheUmaskOrAStaleTemporaryFile) {
  TempDir dir;
  const fs::path target = dir.path() / "state";
  const mode_t old_umask = ::umask(0);
  WriteFile(dir.path() / "state.tmp", "left by a crash");
  ::chmod((dir.path() / "state.tmp").c_str(), 0666);
  ReplaceFailure failure;
  EXPECT_TRUE(ReplaceFile(target, "new", fs::perms::owner_read | fs::perms::owner_write, &failure));
  EXPECT_TRUE(ReplaceFile(dir.path() / "fresh", "new",
                          fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                          &failure));
  std::string message;
  EXPECT_TRUE(CreateDirectories(dir.path() / "a" / "b", kPrivateDirectoryMode, &message)) << message;
  ::umask(old_umask);
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir.path() / "fresh").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(fs::status(dir.path() / "a").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir.path() / "a" / "b").permissions(), fs::perms::owner_all);

  // A file in the way is reported, not taken for a directory.
  WriteFile(dir.path() / "file", "");
  EXPECT_FALSE(CreateDirectories(dir.path() / "file" / "sub", kPrivateDirectoryMode, &message));
  EXPECT_NE(message.find("file"), std::string::npos);
  EXPECT_FALSE(CreateDirectories(dir.path() / "file", kPrivateDirectoryMode, &message));
}

}  // namespace
}  // namespace kavi::win
