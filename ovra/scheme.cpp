// SPDX-License-Identifier: Apache-2.0
#include "ovra/scheme.h"

#include <yaml-cpp/yaml.h>

#include <fstream>
#include <sstream>
#include <system_error>

#include "ovra/log.h"

namespace kavi::win {
namespace {

bool Fail(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

bool IsValidId(const std::string& id) {
  if (id.empty() || id.size() > 80) return false;
  for (char c : id) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// Finds a data file by name; names with a directory part are taken as they are.
bool ResolveFile(const std::string& name, const std::filesystem::path& file_dir,
                 const std::vector<std::filesystem::path>& data_dirs, std::filesystem::path* out,
                 std::string* message) {
  std::filesystem::path given(name);
  std::error_code ec;
  if (name.empty() || given.is_absolute() || given.has_parent_path()) {
    if (!name.empty() && std::filesystem::is_regular_file(given, ec)) {
      *out = given;
      return true;
    }
    return Fail(message, "missing file \"" + name + "\"");
  }
  std::vector<std::filesystem::path> places{file_dir};
  places.insert(places.end(), data_dirs.begin(), data_dirs.end());
  for (const auto& dir : places) {
    if (dir.empty()) continue;
    std::filesystem::path candidate = dir / given;
    if (std::filesystem::is_regular_file(candidate, ec)) {
      *out = candidate;
      return true;
    }
  }
  return Fail(message, "missing file \"" + name + "\"");
}

std::string ScalarOr(const YAML::Node& node, const std::string& fallback) {
  return node && node.IsScalar() ? node.as<std::string>() : fallback;
}

bool BoolOr(const YAML::Node& node, bool fallback) {
  return node && node.IsScalar() ? node.as<bool>() : fallback;
}

bool ParseYaml(const YAML::Node& root, const std::filesystem::path& file_dir,
               const std::vector<std::filesystem::path>& data_dirs, SchemeDefinition* scheme,
               std::string* message) {
  if (!root.IsMap()) return Fail(message, "the scheme is not a mapping");
  const YAML::Node head = root["schema"];
  if (!head || !head.IsMap()) return Fail(message, "no \"schema\" section");
  SchemeDefinition result;
  result.id = ScalarOr(head["id"], "");
  if (!IsValidId(result.id)) return Fail(message, "invalid scheme id");
  result.name = ScalarOr(head["name"], result.id);
  std::string engine = ScalarOr(head["engine"], "pinyin");
  if (engine == "pinyin") {
    result.kind = SchemeKind::kPinyin;
  } else if (engine == "table") {
    result.kind = SchemeKind::kTable;
  } else {
    return Fail(message, "unknown engine \"" + engine + "\"");
  }

  const YAML::Node dicts = root["dictionaries"];
  if (!dicts || !dicts.IsSequence() || dicts.size() == 0) {
    return Fail(message, "no \"dictionaries\"");
  }
  for (const auto& entry : dicts) {
    std::filesystem::path path;
    if (!ResolveFile(ScalarOr(entry, ""), file_dir, data_dirs, &path, message)) return false;
    result.dictionaries.push_back(path);
  }
  if (const YAML::Node extb = root["extension_b"]) {
    if (!ResolveFile(ScalarOr(extb, ""), file_dir, data_dirs, &result.extension_b, message)) {
      return false;
    }
  }
  if (!ResolveFile(ScalarOr(root["language_model"], ""), file_dir, data_dirs,
                   &result.language_model, message)) {
    return false;
  }

  if (const YAML::Node words = root["english_words"]) {
    // Found or not, the scheme works: the loader reports a list it cannot read.
    const std::string name = ScalarOr(words, "");
    std::string ignored;
    if (!ResolveFile(name, file_dir, data_dirs, &result.english_words, &ignored)) {
      result.english_words = name;
    }
  }

  if (const YAML::Node pinyin = root["pinyin"]; pinyin && pinyin.IsMap()) {
    result.shuangpin_layout = ScalarOr(pinyin["shuangpin"], "");
    if (const YAML::Node fuzzy = pinyin["fuzzy"]; fuzzy && fuzzy.IsSequence()) {
      for (const auto& flag : fuzzy) result.fuzzy.push_back(ScalarOr(flag, ""));
    }
  }
  if (const YAML::Node table = root["table"]; table && table.IsMap()) {
    result.table.order = ScalarOr(table["order"], result.table.order);
    result.table.auto_select = BoolOr(table["auto_select"], result.table.auto_select);
    result.table.learning = BoolOr(table["learning"], result.table.learning);
  }
  *scheme = std::move(result);
  return true;
}

}  // namespace

bool ParseScheme(const std::string& text, const std::filesystem::path& file_dir,
                 const std::vector<std::filesystem::path>& data_dirs, SchemeDefinition* scheme,
                 std::string* message) {
  try {
    if (!ParseYaml(YAML::Load(text), file_dir, data_dirs, scheme, message)) return false;
  } catch (const YAML::Exception& e) {
    return Fail(message, std::string("bad YAML: ") + e.what());
  }
  if (message) message->clear();
  return true;
}

void SchemeCatalog::Load(const std::vector<std::filesystem::path>& scheme_dirs,
                         const std::vector<std::filesystem::path>& data_dirs) {
  schemes_.clear();
  for (const auto& dir : scheme_dirs) {
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::string file_name = it->path().filename().string();
      if (file_name.size() <= kSchemeFileSuffix.size() || !file_name.ends_with(kSchemeFileSuffix)) {
        continue;
      }
      std::ifstream in(it->path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      SchemeDefinition scheme;
      std::string message;
      if (!in || !ParseScheme(text.str(), dir, data_dirs, &scheme, &message)) {
        LogEngineEvent("scheme " + it->path().string() + " skipped: " + message);
        continue;
      }
      if (file_name != scheme.id + std::string(kSchemeFileSuffix)) {
        LogEngineEvent("scheme " + it->path().string() + " skipped: its id is " + scheme.id);
        continue;
      }
      schemes_[scheme.id] = std::move(scheme);
    }
  }
}

const SchemeDefinition* SchemeCatalog::Find(const std::string& id) const {
  auto it = schemes_.find(id);
  return it == schemes_.end() ? nullptr : &it->second;
}

}  // namespace kavi::win
