// SPDX-License-Identifier: Apache-2.0
// The resolved theme the candidate window draws with. One per window, replaced as a whole when
// the theme changes. Lengths are device-independent pixels (1/96 inch).
#pragma once

#include <string>

namespace kavi::win {

struct StyleColor {
  float r = 0;
  float g = 0;
  float b = 0;
  float a = 1;

  bool operator==(const StyleColor&) const = default;
};

inline constexpr char kDefaultThemeId[] = "native";
inline constexpr char kDefaultThemeName[] = "系統配色";
// The face every text format falls back to when a theme's own face is missing on this system.
inline constexpr char kFallbackFontFace[] = "Noto Sans CJK TC";

struct CandidateStyle {
  std::string theme_id = kDefaultThemeId;
  std::string display_name = kDefaultThemeName;
  std::string font_face = "Microsoft JhengHei UI";
  std::string label_font_face;    // empty: font_face
  std::string comment_font_face;  // empty: font_face
  // Kept with the style for the settings application; the drawing does not consult it.
  std::string candidate_format = "[label]. [candidate] [comment]";

  StyleColor back_color;
  StyleColor border_color;
  StyleColor text_color;
  StyleColor candidate_text_color;
  StyleColor label_color;
  StyleColor comment_text_color;
  StyleColor hilited_text_color;
  StyleColor hilited_candidate_back_color;
  StyleColor hilited_candidate_text_color;
  StyleColor hilited_candidate_label_color;
  StyleColor hilited_comment_text_color;
  StyleColor preedit_back_color;
  StyleColor candidate_back_color;
  StyleColor hilited_back_color;

  float font_point = 17;
  float label_font_point = 14;
  float comment_font_point = 14;
  float alpha = 1;
  float corner_radius = 6;
  float hilited_corner_radius = 6;
  float border_height = 6;
  float border_width = 6;
  float line_spacing = 0;
  float spacing = 0;
  float base_offset = 0;
  float surrounding_extra_expansion = 0;
  float shadow_size = 0;
  float paging_left_padding = 12;
  float paging_arrow_offset = 5;
  float paging_width = 7;
  bool show_paging = true;
  bool translucency = false;
  bool mutual_exclusive = false;

  bool operator==(const CandidateStyle&) const = default;

  const std::string& LabelFontFace() const {
    return label_font_face.empty() ? font_face : label_font_face;
  }
  const std::string& CommentFontFace() const {
    return comment_font_face.empty() ? font_face : comment_font_face;
  }
};

}  // namespace kavi::win
