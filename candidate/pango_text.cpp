// SPDX-License-Identifier: Apache-2.0
#include "candidate/pango_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

namespace kavi::win {

namespace {

// Layouts are measured within this box, as the window's text layouts are.
constexpr double kMaxMeasureWidth = 4096;
// The character square of CJK type: its ink reaches every side of the square the ideographs
// are drawn in, which is what rows are centred on.
constexpr char kSquareReference[] = "永";
constexpr char kLastResortFamily[] = "sans-serif";
constexpr size_t kMaxShapedTexts = 512;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::set<std::string> InstalledFamilies(PangoFontMap* font_map) {
  std::set<std::string> names;
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(font_map, &families, &count);
  for (int i = 0; i < count; ++i) names.insert(Lower(pango_font_family_get_name(families[i])));
  g_free(families);
  return names;
}

// The face when it is installed, else the fallback face, else whatever fontconfig picks for
// sans-serif; glyphs the face lacks come from the fallback face.
std::string ResolveFamily(const std::string& face, const std::set<std::string>& installed) {
  const bool has_fallback = installed.count(Lower(kFallbackFontFace)) > 0;
  std::string primary = installed.count(Lower(face)) > 0 ? face
                        : has_fallback                   ? std::string(kFallbackFontFace)
                                                         : std::string(kLastResortFamily);
  if (has_fallback && Lower(primary) != Lower(kFallbackFontFace)) {
    primary += std::string(",") + kFallbackFontFace;
  }
  return primary;
}

}  // namespace

std::unique_ptr<PangoTextFormats> PangoTextFormats::Create(const CandidateStyle& style,
                                                           const std::string& language,
                                                           std::string* message) {
  std::unique_ptr<PangoTextFormats> formats(new PangoTextFormats());
  formats->font_map_ = pango_cairo_font_map_new();
  if (formats->font_map_) formats->context_ = pango_font_map_create_context(formats->font_map_);
  if (!formats->context_) {
    if (message) *message = "no Pango font map";
    return nullptr;
  }
  const std::set<std::string> installed = InstalledFamilies(formats->font_map_);
  if (installed.empty()) {
    if (message) *message = "no fonts installed";
    return nullptr;
  }
  // Unhinted metrics keep measured widths the same at every scale.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(formats->context_, options);
  cairo_font_options_destroy(options);
  pango_context_set_language(formats->context_, pango_language_from_string(language.c_str()));

  const std::string* faces[3] = {&style.font_face, &style.LabelFontFace(),
                                 &style.CommentFontFace()};
  const float sizes[3] = {style.font_point, style.label_font_point, style.comment_font_point};
  for (size_t i = 0; i < 3; ++i) {
    formats->families_[i] = ResolveFamily(*faces[i], installed);
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, formats->families_[i].c_str());
    pango_font_description_set_absolute_size(description, sizes[i] * PANGO_SCALE);
    PangoLayout* layout = pango_layout_new(formats->context_);
    pango_layout_set_font_description(layout, description);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    formats->descriptions_[i] = description;
    formats->fitting_[i] = layout;
    PangoLayout* wrapping = pango_layout_new(formats->context_);
    pango_layout_set_font_description(wrapping, description);
    pango_layout_set_wrap(wrapping, PANGO_WRAP_WORD_CHAR);
    formats->wrapping_[i] = wrapping;

    pango_layout_set_text(wrapping, kSquareReference, -1);
    PangoRectangle ink{};
    PangoRectangle logical{};
    pango_layout_get_extents(wrapping, &ink, &logical);
    const double baseline = pango_layout_get_baseline(wrapping) / double{PANGO_SCALE};
    formats->bands_[i] = {baseline - ink.y / double{PANGO_SCALE},
                          (ink.y + ink.height) / double{PANGO_SCALE} - baseline,
                          logical.height / double{PANGO_SCALE}};
  }
  if (message) message->clear();
  return formats;
}

PangoTextFormats::~PangoTextFormats() {
  for (size_t i = 0; i < 3; ++i) {
    Clear(&recent_[i]);
    Clear(&older_[i]);
  }
  for (PangoLayout* layout : fitting_) {
    if (layout) g_object_unref(layout);
  }
  for (PangoLayout* layout : wrapping_) {
    if (layout) g_object_unref(layout);
  }
  for (PangoFontDescription* description : descriptions_) {
    if (description) pango_font_description_free(description);
  }
  if (context_) g_object_unref(context_);
  if (font_map_) g_object_unref(font_map_);
}

const PangoTextFormats::ShapedText& PangoTextFormats::Shaped(TextRole role,
                                                             std::string_view utf8) const {
  ShapedCache& recent = recent_[Index(role)];
  if (auto it = recent.find(utf8); it != recent.end()) return it->second;
  ShapedCache& older = older_[Index(role)];
  if (auto it = older.find(utf8); it != older.end()) {
    auto node = older.extract(it);
    return recent.insert(std::move(node)).position->second;
  }
  if (recent.size() >= kMaxShapedTexts / 2) {
    Clear(&older);
    older.swap(recent);
  }
  ShapedText shaped;
  shaped.layout = pango_layout_new(context_);
  pango_layout_set_font_description(shaped.layout, descriptions_[Index(role)]);
  pango_layout_set_single_paragraph_mode(shaped.layout, TRUE);
  pango_layout_set_text(shaped.layout, utf8.data(), static_cast<int>(utf8.size()));
  PangoRectangle logical{};
  pango_layout_get_extents(shaped.layout, nullptr, &logical);
  shaped.width =
      std::ceil(std::min(static_cast<double>(logical.width) / PANGO_SCALE, kMaxMeasureWidth));
  shaped.baseline = pango_layout_get_baseline(shaped.layout) / double{PANGO_SCALE};
  return recent.emplace(std::string(utf8), shaped).first->second;
}

void PangoTextFormats::Clear(ShapedCache* cache) {
  for (auto& [text, shaped] : *cache) g_object_unref(shaped.layout);
  cache->clear();
}

double PangoTextFormats::MeasureWidth(TextRole role, std::string_view utf8) const {
  if (utf8.empty()) return 0;
  return Shaped(role, utf8).width;
}

int PangoTextFormats::WrappedLines(TextRole role, std::string_view utf8, double width) const {
  if (utf8.empty() || MeasureWidth(role, utf8) <= width) return 1;
  PangoLayout* layout = wrapping_[Index(role)];
  pango_layout_set_width(layout, static_cast<int>(std::max(width, 1.0) * PANGO_SCALE));
  pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
  return std::max(pango_layout_get_line_count(layout), 1);
}

void PangoTextFormats::DrawText(cairo_t* cr, TextRole role, std::string_view utf8,
                                const TextPlacement& place, const StyleColor& color) {
  if (utf8.empty() || place.Width() <= 0) return;
  const ShapedText& shaped = Shaped(role, utf8);
  PangoLayout* layout = shaped.layout;
  double baseline = shaped.baseline;
  const bool fits = shaped.width <= place.Width();
  if (!fits && role != TextRole::Label) {
    layout = place.wrap ? wrapping_[Index(role)] : fitting_[Index(role)];
    pango_layout_set_width(layout, static_cast<int>(place.Width() * PANGO_SCALE));
    pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
    baseline = pango_layout_get_baseline(layout) / double{PANGO_SCALE};
  }
  const double top = place.baseline - baseline;
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  if (!fits && role == TextRole::Label) {
    // Only the box's sides bound the text.
    cairo_save(cr);
    cairo_rectangle(cr, place.left, top - 64, place.Width(), 256);
    cairo_clip(cr);
    cairo_move_to(cr, place.left, top);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    return;
  }
  cairo_move_to(cr, place.left, top);
  pango_cairo_show_layout(cr, layout);
}

}  // namespace kavi::win
