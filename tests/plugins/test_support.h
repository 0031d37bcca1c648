// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the plug-in tests: the shipped data and page inspection.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/plugin_types.h"
#include "tests/common/temp_dir.h"

namespace kavi::win::testing {

using Strings = std::vector<std::string>;

inline std::filesystem::path ShippedPluginDir() {
  return std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "plugin";
}

// The whole of the shipped plug-in data file `name`.
inline std::string ReadShipped(const char* name) {
  return ReadFile(ShippedPluginDir() / name);
}

inline constexpr uint32_t Kind(PluginItemKind kind) {
  return static_cast<uint32_t>(kind);
}

inline Strings Texts(const std::vector<PluginItem>& items) {
  Strings texts;
  for (const PluginItem& item : items) texts.push_back(item.text);
  return texts;
}

inline bool Contains(const Strings& strings, std::string_view wanted) {
  return std::find(strings.begin(), strings.end(), wanted) != strings.end();
}

inline Strings Comments(const std::vector<PluginItem>& items) {
  Strings comments;
  for (const PluginItem& item : items) comments.push_back(item.comment);
  return comments;
}

}  // namespace kavi::win::testing
