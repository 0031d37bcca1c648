// SPDX-License-Identifier: Apache-2.0
#include "tests/plugins/test_support.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

namespace kavi::win::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kavi-plugins-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, std::string_view content) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out << content;
}

std::filesystem::path ShippedPluginDir() {
  return std::filesystem::path(KAVI_SOURCE_DIR) / "data" / "plugin";
}

std::vector<std::string> Texts(const std::vector<PluginItem>& items) {
  std::vector<std::string> texts;
  for (const PluginItem& item : items) texts.push_back(item.text);
  return texts;
}

std::vector<std::string> Comments(const std::vector<PluginItem>& items) {
  std::vector<std::string> comments;
  for (const PluginItem& item : items) comments.push_back(item.comment);
  return comments;
}

}  // namespace kavi::win::testing
