#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <limits>
#include <string>

#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "tests/common/temp_dir.h"

namespace kavi::win {
namespace {
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

}  // namespace
}  // namespace kavi::win
