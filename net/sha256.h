// SPDX-License-Identifier: Apache-2.0
// SHA-256 of a file or a byte string as 64 lower-case hexadecimal characters: how downloaded
// packs, models and installers are checked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kSha256OpenMessage[] = "無法開啟 SHA-256 文件";
inline constexpr char kSha256ReadMessage[] = "讀取 SHA-256 文件失敗";
inline constexpr char kSha256TooLargeMessage[] = "SHA-256 輸入過大";
inline constexpr size_t kSha256ChunkBytes = 1048576;  // 1 MiB

// A hash fed piece by piece: a download hashes its bytes as they arrive instead of reading the
// whole file again at the end. Every call after a failure fails too; Reset starts over.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  bool Add(const void* data, size_t size, std::string* error);
  // Adds the first `bytes` bytes of a file; false when it is shorter or unreadable.
  bool AddFilePrefix(const std::filesystem::path& path, uint64_t bytes, std::string* error);
  // The digest of everything added; the hasher must be Reset before it is used again.
  bool Finish(std::string* hex, std::string* error);
  bool Reset(std::string* error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// False with the message when the file cannot be opened or read; `hex` is cleared on failure.
bool Sha256File(const std::filesystem::path& path, std::string* hex, std::string* error);
// False for input above 0xFFFFFFFF bytes.
bool Sha256Bytes(std::string_view bytes, std::string* hex, std::string* error);

}  // namespace kavi::win
