// Replacing a file so that a reader sees either the old or the new content, never a mix, and a
// crash leaves one of the two on disk.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win {

// The steps of an atomic write that tests can make fail.
enum class AtomicWriteStep { kNone, kCreate, kWrite, kFlush, kRename };

// Makes the named step of every atomic write on this thread fail while the object lives.
class ScopedAtomicWriteFault {
 public:
  explicit ScopedAtomicWriteFault(AtomicWriteStep step);
  ~ScopedAtomicWriteFault();
  ScopedAtomicWriteFault(const ScopedAtomicWriteFault&) = delete;
  ScopedAtomicWriteFault& operator=(const ScopedAtomicWriteFault&) = delete;

 private:
  AtomicWriteStep previous_;
};

namespace server {

// Writes `bytes` to target + ".tmp", flushes it to disk, renames it over the target and flushes
// the directory. On failure the temporary file is removed and the target keeps its content.
// While another process or thread is writing the same target, fails at once ("無法建立暫存配置").
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* message);

}  // namespace server
}  // namespace kavi::win
