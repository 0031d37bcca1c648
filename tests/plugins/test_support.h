// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the plug-in tests: a private data directory and page inspection.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/plugin_types.h"

namespace kavi::win::testing {

// A fresh directory under the system temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  void Write(const std::string& name, std::string_view content) const;

 private:
  std::filesystem::path path_;
};

// The shipped data directory of the source tree.
std::filesystem::path ShippedPluginDir();

std::vector<std::string> Texts(const std::vector<PluginItem>& items);
std::vector<std::string> Comments(const std::vector<PluginItem>& items);

}  // namespace kavi::win::testing
