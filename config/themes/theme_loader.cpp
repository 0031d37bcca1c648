// SPDX-License-Identifier: Apache-2.0
#include "config/themes/theme_loader.h"

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <optional>
#include <unordered_set>

#include "config/themes/theme_color.h"
#include "platform/file_read.h"
#include "platform/log.h"

namespace kavi::win {

namespace {

constexpr char kDarkSuffix[] = "_dark";
constexpr size_t kMaxNameBytes = 128;
constexpr size_t kMaxFormatBytes = 256;

// Light and dark base colours, in #RRGGBB.
struct BasePalette {
  unsigned back, border, text, candidate_text, label, comment_text, hilited_text,
      hilited_candidate_back, hilited_candidate_text, hilited_candidate_label, hilited_comment_text,
      preedit_back, candidate_back, hilited_back;
};
constexpr BasePalette kLightBase = {0xFAF9F6, 0xE0E0E0, 0x424242, 0x000000, 0x999999,
                                    0x999999, 0x424242, 0x007AFF, 0xFFFFFF, 0xFFFFFF,
                                    0x999999, 0xFAF9F6, 0xFAF9F6, 0x007AFF};
constexpr BasePalette kDarkBase = {0x2D2D2D, 0x555555, 0xCCCCCC, 0xE0E0E0, 0x888888,
                                   0x888888, 0xCCCCCC, 0x007AFF, 0xFFFFFF, 0xFFFFFF,
                                   0x888888, 0x2D2D2D, 0x2D2D2D, 0x007AFF};

void SetMessage(std::string* message, std::string text) {
  if (message) *message = std::move(text);
}

// Reads a whole theme or catalog file and parses it into a map node.
bool ReadYamlMap(const std::filesystem::path& path, YAML::Node* root, std::string* message) {
  std::string bytes;
  const ReadFileResult read = ReadRegularFile(path, kMaxThemeFileSize, &bytes);
  if (read == ReadFileResult::kCannotOpen) {
    SetMessage(message, "theme file not found");
    return false;
  }
  if (read != ReadFileResult::kRead || bytes.empty()) {
    SetMessage(message, "invalid theme file size");
    return false;
  }
  try {
    *root = YAML::Load(bytes);
  } catch (const YAML::Exception&) {
    SetMessage(message, "invalid theme yaml");
    return false;
  }
  if (!root->IsMap()) {
    SetMessage(message, "theme document must be a map");
    return false;
  }
  return true;
}

// yaml-cpp throws on lookups into malformed trees; a theme value that cannot be read counts as
// absent.
YAML::Node Child(const YAML::Node& map, const std::string& key) {
  try {
    if (!map.IsMap()) return YAML::Node(YAML::NodeType::Undefined);
    YAML::Node node = map[key];
    if (!node.IsDefined()) return YAML::Node(YAML::NodeType::Undefined);
    return node;
  } catch (const YAML::Exception&) {
    return YAML::Node(YAML::NodeType::Undefined);
  }
}

class EntryReader {
 public:
  EntryReader(const YAML::Node& entry, bool dark) : entry_(entry), dark_(dark) {}

  void String(const char* key, size_t max_bytes, std::string* out) const {
    YAML::Node node = Child(entry_, key);
    if (!node.IsScalar()) return;
    const std::string& value = node.Scalar();
    if (!value.empty() && value.size() <= max_bytes) *out = value;
  }

  // True when the key (or its dark variant) gave a valid colour.
  bool Color(const std::string& key, StyleColor* out) const {
    if (dark_) {
      YAML::Node dark_node = Child(entry_, key + kDarkSuffix);
      if (dark_node.IsScalar()) return ParseThemeColor(dark_node.Scalar(), out);
    }
    YAML::Node node = Child(entry_, key);
    return node.IsScalar() && ParseThemeColor(node.Scalar(), out);
  }

  void ColorOr(const std::string& key, StyleColor* out, const StyleColor& fallback) const {
    if (!Color(key, out)) *out = fallback;
  }

  bool Number(const char* key, float low, float high, float* out) const {
    YAML::Node node = Child(entry_, key);
    if (!node.IsScalar()) return false;
    double value = 0;
    if (!YAML::convert<double>::decode(node, value) || !std::isfinite(value)) return false;
    *out =
        static_cast<float>(std::clamp(value, static_cast<double>(low), static_cast<double>(high)));
    return true;
  }

  void Boolean(const char* key, bool* out) const {
    YAML::Node node = Child(entry_, key);
    bool value = false;
    if (node.IsScalar() && YAML::convert<bool>::decode(node, value)) *out = value;
  }

 private:
  const YAML::Node& entry_;
  bool dark_;
};

void ReadThemeEntry(const YAML::Node& entry, bool dark, CandidateStyle* s) {
  EntryReader read(entry, dark);
  read.String("name", kMaxNameBytes, &s->display_name);
  read.String("font_face", kMaxNameBytes, &s->font_face);
  read.String("label_font_face", kMaxNameBytes, &s->label_font_face);
  read.String("comment_font_face", kMaxNameBytes, &s->comment_font_face);
  read.String("candidate_format", kMaxFormatBytes, &s->candidate_format);

  // Each fallback takes the value the named field holds at this point of the reading order.
  read.Color("back_color", &s->back_color);
  read.Color("border_color", &s->border_color);
  read.Color("text_color", &s->text_color);
  read.ColorOr("candidate_text_color", &s->candidate_text_color, s->text_color);
  read.ColorOr("label_color", &s->label_color, s->candidate_text_color);
  read.ColorOr("comment_text_color", &s->comment_text_color, s->candidate_text_color);
  read.ColorOr("hilited_text_color", &s->hilited_text_color, s->text_color);
  read.ColorOr("hilited_back_color", &s->hilited_back_color, s->hilited_candidate_back_color);
  read.ColorOr("hilited_candidate_back_color", &s->hilited_candidate_back_color,
               s->hilited_back_color);
  read.ColorOr("hilited_candidate_text_color", &s->hilited_candidate_text_color,
               s->hilited_text_color);
  read.ColorOr("hilited_candidate_label_color", &s->hilited_candidate_label_color,
               s->hilited_candidate_text_color);
  read.ColorOr("hilited_comment_text_color", &s->hilited_comment_text_color,
               s->hilited_candidate_text_color);
  read.Color("preedit_back_color", &s->preedit_back_color);
  read.ColorOr("candidate_back_color", &s->candidate_back_color, s->back_color);

  if (read.Number("font_point", 8, 72, &s->font_point)) {
    s->label_font_point = s->font_point;
    s->comment_font_point = s->font_point;
  }
  read.Number("label_font_point", 8, 72, &s->label_font_point);
  read.Number("comment_font_point", 8, 72, &s->comment_font_point);
  read.Number("alpha", 0, 1, &s->alpha);
  if (read.Number("corner_radius", 0, 64, &s->corner_radius)) {
    s->hilited_corner_radius = s->corner_radius;
  }
  read.Number("hilited_corner_radius", 0, 64, &s->hilited_corner_radius);
  read.Number("border_height", 0, 64, &s->border_height);
  read.Number("border_width", 0, 64, &s->border_width);
  read.Number("line_spacing", 0, 64, &s->line_spacing);
  read.Number("spacing", 0, 64, &s->spacing);
  read.Number("base_offset", -32, 32, &s->base_offset);
  read.Number("surrounding_extra_expansion", 0, 10, &s->surrounding_extra_expansion);
  read.Number("shadow_size", 0, 64, &s->shadow_size);
  read.Number("paging_left_padding", 0, 200, &s->paging_left_padding);
  read.Number("paging_arrow_offset", -100, 100, &s->paging_arrow_offset);
  read.Number("paging_width", 0, 100, &s->paging_width);
  read.Boolean("show_paging", &s->show_paging);
  read.Boolean("translucency", &s->translucency);
  read.Boolean("mutual_exclusive", &s->mutual_exclusive);
}

std::filesystem::path ThemePath(const std::filesystem::path& dir, std::string_view id) {
  return dir / (std::string(id) + kThemeFileExtension);
}

bool IsRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

bool IsValidThemeId(std::string_view id) {
  if (id.empty() || id.size() > kMaxThemeIdLength) return false;
  for (char c : id) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

void ResetToBaseStyle(bool dark, CandidateStyle* style) {
  *style = CandidateStyle{};
  const BasePalette& p = dark ? kDarkBase : kLightBase;
  style->back_color = RgbColor(p.back);
  style->border_color = RgbColor(p.border);
  style->text_color = RgbColor(p.text);
  style->candidate_text_color = RgbColor(p.candidate_text);
  style->label_color = RgbColor(p.label);
  style->comment_text_color = RgbColor(p.comment_text);
  style->hilited_text_color = RgbColor(p.hilited_text);
  style->hilited_candidate_back_color = RgbColor(p.hilited_candidate_back);
  style->hilited_candidate_text_color = RgbColor(p.hilited_candidate_text);
  style->hilited_candidate_label_color = RgbColor(p.hilited_candidate_label);
  style->hilited_comment_text_color = RgbColor(p.hilited_comment_text);
  style->preedit_back_color = RgbColor(p.preedit_back);
  style->candidate_back_color = RgbColor(p.candidate_back);
  style->hilited_back_color = RgbColor(p.hilited_back);
}

bool LoadThemeCatalog(const std::filesystem::path& builtin_dir, std::vector<std::string>* ids,
                      std::string* message) {
  if (!ids) {
    SetMessage(message, "missing theme catalog output");
    return false;
  }
  YAML::Node root;
  if (!ReadYamlMap(builtin_dir / kThemeCatalogFileName, &root, message)) return false;
  YAML::Node themes = Child(root, "themes");
  if (!themes.IsSequence()) {
    SetMessage(message, "invalid theme catalog");
    return false;
  }
  std::vector<std::string> result;
  std::unordered_set<std::string> seen;
  for (const YAML::Node& element : themes) {
    if (!element.IsScalar() || !IsValidThemeId(element.Scalar())) {
      SetMessage(message, "invalid theme id");
      return false;
    }
    if (!seen.insert(element.Scalar()).second) {
      SetMessage(message, "unsafe or duplicate theme id");
      return false;
    }
    result.push_back(element.Scalar());
  }
  *ids = std::move(result);
  SetMessage(message, "");
  return true;
}

bool LoadThemeFile(const std::filesystem::path& dir, std::string_view id, bool dark,
                   CandidateStyle* style, std::string* message) {
  if (!IsValidThemeId(id)) {
    SetMessage(message, "invalid theme id");
    return false;
  }
  YAML::Node root;
  if (!ReadYamlMap(ThemePath(dir, id), &root, message)) return false;
  YAML::Node entry = Child(Child(root, "preset_color_schemes"), std::string(id));
  if (!entry.IsMap()) {
    SetMessage(message, "missing theme data");
    return false;
  }
  CandidateStyle loaded;
  ResetToBaseStyle(dark, &loaded);
  loaded.theme_id = std::string(id);
  ReadThemeEntry(entry, dark, &loaded);
  *style = std::move(loaded);
  SetMessage(message, "");
  return true;
}

bool LoadTheme(const std::filesystem::path& builtin_dir, const std::filesystem::path& user_dir,
               std::string_view id, bool dark, CandidateStyle* style, std::string* message) {
  if (!IsValidThemeId(id)) {
    SetMessage(message, "invalid theme id");
    return false;
  }
  std::vector<std::string> shipped;
  bool listed = false;
  if (LoadThemeCatalog(builtin_dir, &shipped, nullptr)) {
    listed = std::find(shipped.begin(), shipped.end(), id) != shipped.end();
  }
  if (listed) {
    if (!user_dir.empty() && IsRegularFile(ThemePath(user_dir, id))) {
      LogLine("[Kavi] custom theme file '" + std::string(id) +
              "' collides with builtin id, ignoring custom copy and loading builtin instead\n");
    }
    return LoadThemeFile(builtin_dir, id, dark, style, message);
  }
  if (!user_dir.empty() && LoadThemeFile(user_dir, id, dark, style, message)) return true;
  return LoadThemeFile(builtin_dir, id, dark, style, message);
}

bool LoadThemeStatusBarColors(const std::filesystem::path& builtin_dir,
                              const std::filesystem::path& user_dir, std::string_view id,
                              bool dark, ThemeStatusBarColors* colors, std::string* message) {
  if (!IsValidThemeId(id) || !colors) {
    SetMessage(message, "invalid theme id");
    return false;
  }
  std::vector<std::string> shipped;
  const bool listed = LoadThemeCatalog(builtin_dir, &shipped, nullptr) &&
                      std::find(shipped.begin(), shipped.end(), id) != shipped.end();
  const bool user = !listed && !user_dir.empty() && IsRegularFile(ThemePath(user_dir, id));
  YAML::Node root;
  if (!ReadYamlMap(ThemePath(user ? user_dir : builtin_dir, id), &root, message)) return false;
  YAML::Node entry = Child(Child(root, "preset_color_schemes"), std::string(id));
  if (!entry.IsMap()) {
    SetMessage(message, "missing theme data");
    return false;
  }
  EntryReader read(entry, dark);
  ThemeStatusBarColors found;
  auto take = [&read](const char* key, std::optional<StyleColor>* out) {
    StyleColor color;
    if (read.Color(key, &color)) *out = color;
  };
  take("status_bar_back_color", &found.back);
  take("status_bar_border_color", &found.border);
  take("status_bar_text_color", &found.text);
  take("status_bar_hilited_back_color", &found.hilited_back);
  take("status_bar_hilited_text_color", &found.hilited_text);
  *colors = found;
  SetMessage(message, "");
  return true;
}

}  // namespace kavi::win
