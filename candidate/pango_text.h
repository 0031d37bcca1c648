// SPDX-License-Identifier: Apache-2.0
// The three text formats of the candidate window (candidate, label, comment) on Pango.
#pragma once

#include <pango/pangocairo.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "candidate/text_measurer.h"
#include "style/candidate_style.h"

namespace kavi::win {

class PangoTextFormats final : public TextRenderer {
 public:
  // Null with a message when Pango has no font map or no usable font. language is a tag such as
  // "zh-cn": it picks the regional glyph forms of a CJK font.
  static std::unique_ptr<PangoTextFormats> Create(const CandidateStyle& style,
                                                  const std::string& language,
                                                  std::string* message);
  ~PangoTextFormats() override;
  PangoTextFormats(const PangoTextFormats&) = delete;
  PangoTextFormats& operator=(const PangoTextFormats&) = delete;

  double MeasureWidth(TextRole role, std::string_view utf8) const override;
  TextBand Band(TextRole role) const override { return bands_[Index(role)]; }
  int WrappedLines(TextRole role, std::string_view utf8, double width) const override;
  void DrawText(cairo_t* cr, TextRole role, std::string_view utf8, const TextPlacement& place,
                const StyleColor& color) override;

  // The family a face resolves to on this system (the face itself, or a fallback).
  const std::string& Family(TextRole role) const { return families_[Index(role)]; }

 private:
  PangoTextFormats() = default;
  static size_t Index(TextRole role) { return static_cast<size_t>(role); }

  // A shaped single-line layout of the text at its natural width, with its measurements;
  // shaping is the costly part, and the same texts (labels, candidates while typing on) come
  // back frame after frame.
  struct ShapedText {
    PangoLayout* layout = nullptr;
    double width = 0;     // DIPs, rounded up
    double baseline = 0;  // DIPs below the layout's top
  };
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  using ShapedCache = std::unordered_map<std::string, ShapedText, TextHash, std::equal_to<>>;
  const ShapedText& Shaped(TextRole role, std::string_view utf8) const;
  static void Clear(ShapedCache* cache);

  PangoFontMap* font_map_ = nullptr;
  PangoContext* context_ = nullptr;
  PangoFontDescription* descriptions_[3] = {nullptr, nullptr, nullptr};
  // For texts wider than their box: laid out again with an ellipsis, or wrapped.
  PangoLayout* fitting_[3] = {nullptr, nullptr, nullptr};
  PangoLayout* wrapping_[3] = {nullptr, nullptr, nullptr};
  TextBand bands_[3];
  // Two generations: texts used since the last turnover, and those before it. A text found in
  // the older one moves up; a turnover drops what was not used for a whole generation.
  mutable ShapedCache recent_[3];
  mutable ShapedCache older_[3];
  std::string families_[3];
};

}  // namespace kavi::win
