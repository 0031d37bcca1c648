// SPDX-License-Identifier: Apache-2.0
// The toolbar's persistent flags, "MiniToolbar" and "ToolbarHidden", kept as numbers in the
// per-user registry.json under the user-data root. A missing file, key or unreadable value
// reads as 0; other keys of the file are kept on every write.
#pragma once

#include <filesystem>
#include <string_view>

namespace kavi::win {

inline constexpr char kRegistryFileName[] = "registry.json";
inline constexpr char kMiniToolbarValue[] = "MiniToolbar";
inline constexpr char kToolbarHiddenValue[] = "ToolbarHidden";

class ToolbarFlags {
 public:
  explicit ToolbarFlags(std::filesystem::path user_root)
      : path_(std::move(user_root) / kRegistryFileName) {}

  uint32_t Read(std::string_view name) const;
  // Replaces the file atomically and reads the value back; true only when it reads as written.
  // A failure logs "[Kavi] 無法保存工具欄形態".
  bool Write(std::string_view name, uint32_t value) const;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kavi::win
