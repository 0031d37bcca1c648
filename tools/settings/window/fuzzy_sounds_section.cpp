// SPDX-License-Identifier: Apache-2.0
// The fuzzy sounds on the input page: one switch per pair of sounds, folded under a row that
// names the pairs in use. Every switch saves the whole list at once.
#include <algorithm>
#include <vector>

#include "tools/settings/pinyin_settings.h"
#include "tools/settings/window/section_view.h"

namespace kavi::win {

namespace {

constexpr char kNoneInUse[] = "未使用";

class FuzzySoundsSection final : public SectionView {
 public:
  FuzzySoundsSection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group_),
                                    std::string(section.title).c_str());
    if (!section.description.empty())
      adw_preferences_group_set_description(ADW_PREFERENCES_GROUP(group_),
                                            std::string(section.description).c_str());
    const SettingRow row =
        section.rows.empty() ? SettingRow{kFuzzyKey, section.title, ""} : section.rows.front();
    expander_ = adw_expander_row_new();
    adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(expander_), false);
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(expander_), std::string(row.title).c_str());
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), expander_);
    for (const FuzzySound& sound : FuzzySounds()) {
      GtkWidget* child = adw_action_row_new();
      adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(child), false);
      adw_preferences_row_set_title(ADW_PREFERENCES_ROW(child), std::string(sound.label).c_str());
      GtkWidget* toggle = gtk_switch_new();
      gtk_widget_set_valign(toggle, GTK_ALIGN_CENTER);
      gtk_widget_set_name(toggle, std::string(sound.name).c_str());
      adw_action_row_add_suffix(ADW_ACTION_ROW(child), toggle);
      adw_action_row_set_activatable_widget(ADW_ACTION_ROW(child), toggle);
      adw_expander_row_add_row(ADW_EXPANDER_ROW(expander_), child);
      ConnectSignal(toggle, "notify::active", [this] { Toggled(); });
      switches_.push_back({std::string(sound.name), toggle});
    }
    hint_ = std::string(row.subtitle);
    (*ctx.bindings)[std::string(kFuzzyKey)] = {[this](const ConfigRecord&) { Show(); },
                                               switches_.front().widget};
  }

  GtkWidget* Widget() override { return group_; }

 private:
  struct Switch {
    std::string name;
    GtkWidget* widget;
  };

  // The pairs in use as the file holds them.
  void Show() {
    std::string problem;
    const UserPinyinOptions options = ctx_.store->PinyinOptions(&problem);
    showing_ = true;
    for (const Switch& s : switches_) {
      const bool on =
          std::find(options.fuzzy.begin(), options.fuzzy.end(), s.name) != options.fuzzy.end();
      gtk_switch_set_active(GTK_SWITCH(s.widget), on);
    }
    showing_ = false;
    std::string in_use;
    for (const FuzzySound& sound : FuzzySounds()) {
      if (std::find(options.fuzzy.begin(), options.fuzzy.end(), sound.name) == options.fuzzy.end())
        continue;
      if (!in_use.empty()) in_use += "、";
      in_use += sound.label;
    }
    std::string subtitle = in_use.empty() ? kNoneInUse : in_use;
    if (!hint_.empty()) subtitle += "\n" + hint_;
    if (!problem.empty()) subtitle += "\n" + problem;
    adw_expander_row_set_subtitle(ADW_EXPANDER_ROW(expander_), subtitle.c_str());
  }

  void Toggled() {
    if (showing_ || *ctx_.showing) return;
    std::string value;
    for (const Switch& s : switches_) {
      if (!gtk_switch_get_active(GTK_SWITCH(s.widget))) continue;
      if (!value.empty()) value += ",";
      value += s.name;
    }
    if (ctx_.apply(std::string(kFuzzyKey), value)) Show();
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  GtkWidget* expander_;
  std::vector<Switch> switches_;
  std::string hint_;
  bool showing_ = false;
};

}  // namespace

std::unique_ptr<SectionView> MakeFuzzySoundsSection(const PageSection& section,
                                                    SectionContext& ctx) {
  return std::make_unique<FuzzySoundsSection>(section, ctx);
}

}  // namespace kavi::win
