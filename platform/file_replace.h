// Replacing a file so that a reader sees either the old or the new content, never a mix, and a
// crash leaves one of the two on disk.
#pragma once

#include <filesystem>
#include <string_view>

namespace kavi::win {

// The steps of a replacement, in order; kNone when none failed.
enum class AtomicWriteStep { kNone, kCreate, kWrite, kFlush, kRename };

// Makes the named step of every replacement on this thread fail while the object lives.
class ScopedAtomicWriteFault {
 public:
  explicit ScopedAtomicWriteFault(AtomicWriteStep step);
  ~ScopedAtomicWriteFault();
  ScopedAtomicWriteFault(const ScopedAtomicWriteFault&) = delete;
  ScopedAtomicWriteFault& operator=(const ScopedAtomicWriteFault&) = delete;

 private:
  AtomicWriteStep previous_;
};

// The step that failed and the system's error number for it.
struct ReplaceFailure {
  AtomicWriteStep step = AtomicWriteStep::kNone;
  int error = 0;
};

// Writes `bytes` to target + ".tmp" (created with `permissions`), flushes it to disk, renames it
// over the target and flushes the directory. On failure the temporary file is removed, the target
// keeps its content and `failure` (when given) says which step failed. While another process or
// thread is writing the same target, the creation fails at once.
bool ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 std::filesystem::perms permissions, ReplaceFailure* failure);

}  // namespace kavi::win
