// SPDX-License-Identifier: Apache-2.0
// SHA-256 of a file or a byte string as 64 lower-case hexadecimal characters: how downloaded
// packs, models and installers are checked.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kavi::win {

inline constexpr char kSha256OpenMessage[] = "無法開啟 SHA-256 文件";
inline constexpr char kSha256ReadMessage[] = "讀取 SHA-256 文件失敗";
inline constexpr char kSha256TooLargeMessage[] = "SHA-256 輸入過大";
inline constexpr size_t kSha256ChunkBytes = 1048576;  // 1 MiB

// False with the message when the file cannot be opened or read; `hex` is cleared on failure.
bool Sha256File(const std::filesystem::path& path, std::string* hex, std::string* error);
// False for input above 0xFFFFFFFF bytes.
bool Sha256Bytes(std::string_view bytes, std::string* hex, std::string* error);

}  // namespace kavi::win
