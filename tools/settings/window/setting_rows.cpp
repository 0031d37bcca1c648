// SPDX-License-Identifier: Apache-2.0
// The rows that edit one key each, built from the key's type and the row's description, and the
// plain sections made of them.
#include <algorithm>
#include <cmath>

#include "config/themes/theme_color.h"
#include "tools/settings/endpoint_settings.h"
#include "tools/settings/window/section_view.h"

namespace kavi::win {

namespace {

constexpr char kTrue[] = "true";
constexpr char kFalse[] = "false";

GtkWidget* ActionRow(const SettingRow& row) {
  GtkWidget* widget = adw_action_row_new();
  adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(widget), false);
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(widget), std::string(row.title).c_str());
  if (!row.subtitle.empty())
    adw_action_row_set_subtitle(ADW_ACTION_ROW(widget), std::string(row.subtitle).c_str());
  return widget;
}

GtkWidget* ComboRow(const SettingRow& row, const std::vector<std::string>& labels) {
  GtkWidget* widget = adw_combo_row_new();
  adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(widget), false);
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(widget), std::string(row.title).c_str());
  if (!row.subtitle.empty())
    adw_action_row_set_subtitle(ADW_ACTION_ROW(widget), std::string(row.subtitle).c_str());
  GtkStringList* model = gtk_string_list_new(nullptr);
  for (const std::string& label : labels) gtk_string_list_append(model, label.c_str());
  adw_combo_row_set_model(ADW_COMBO_ROW(widget), G_LIST_MODEL(model));
  g_object_unref(model);
  return widget;
}

// The value of `key` in the window's current record, as text.
std::string Stored(const SectionContext& ctx, const std::string& key) {
  if (IsEndpointKey(key)) {
    for (const auto& [name, value] : ctx.store->Endpoints()) {
      if (name == key) return value;
    }
    return {};
  }
  return FindSettingKey(key)->get(ctx.record());
}

GtkWidget* SwitchRow(const SettingRow& row, const SettingKey& key, SectionContext& ctx) {
  GtkWidget* widget = ActionRow(row);
  GtkWidget* toggle = gtk_switch_new();
  gtk_widget_set_valign(toggle, GTK_ALIGN_CENTER);
  adw_action_row_add_suffix(ADW_ACTION_ROW(widget), toggle);
  adw_action_row_set_activatable_widget(ADW_ACTION_ROW(widget), toggle);
  const std::string name(key.name);
  const bool inverted = row.inverted;
  SectionContext* c = &ctx;
  ConnectSignal(toggle, "notify::active", [c, toggle, name, inverted] {
    if (*c->showing) return;
    const bool on = gtk_switch_get_active(GTK_SWITCH(toggle)) != inverted;
    c->apply(name, on ? kTrue : kFalse);
  });
  (*ctx.bindings)[name] = {[&key, toggle, inverted](const ConfigRecord& record) {
                             gtk_switch_set_active(GTK_SWITCH(toggle),
                                                   (key.get(record) == kTrue) != inverted);
                           },
                           toggle};
  return widget;
}

// A boolean shown as a list of two words, the true one first.
GtkWidget* TwoWordRow(const SettingRow& row, const SettingKey& key, SectionContext& ctx) {
  GtkWidget* widget = ComboRow(row, {std::string(row.true_label), std::string(row.false_label)});
  const std::string name(key.name);
  SectionContext* c = &ctx;
  ConnectSignal(widget, "notify::selected", [c, widget, name] {
    if (*c->showing) return;
    c->apply(name, adw_combo_row_get_selected(ADW_COMBO_ROW(widget)) == 0 ? kTrue : kFalse);
  });
  (*ctx.bindings)[name] = {[&key, widget](const ConfigRecord& record) {
                             adw_combo_row_set_selected(ADW_COMBO_ROW(widget),
                                                        key.get(record) == kTrue ? 0 : 1);
                           },
                           widget};
  return widget;
}

GtkWidget* NumberRow(const SettingRow& row, const SettingKey& key, SectionContext& ctx) {
  GtkWidget* widget = ActionRow(row);
  GtkWidget* spin = gtk_spin_button_new_with_range(key.min, key.max, 1);
  gtk_widget_set_valign(spin, GTK_ALIGN_CENTER);
  gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), true);
  adw_action_row_add_suffix(ADW_ACTION_ROW(widget), spin);
  const std::string name(key.name);
  SectionContext* c = &ctx;
  ConnectSignal(spin, "value-changed", [c, spin, name] {
    if (*c->showing) return;
    c->apply(name, std::to_string(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin))));
  });
  (*ctx.bindings)[name] = {[&key, spin](const ConfigRecord& record) {
                             gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin),
                                                       std::stod(key.get(record)));
                           },
                           spin};
  return widget;
}

GtkWidget* ChoiceRow(const SettingRow& row, const SettingKey& key, SectionContext& ctx) {
  const std::vector<ChoiceItem> items = ChoiceItems(key);
  std::vector<std::string> labels;
  for (const ChoiceItem& item : items) labels.push_back(item.label);
  GtkWidget* widget = ComboRow(row, labels);
  const std::string name(key.name);
  SectionContext* c = &ctx;
  ConnectSignal(widget, "notify::selected", [c, widget, name, items] {
    const guint selected = adw_combo_row_get_selected(ADW_COMBO_ROW(widget));
    if (*c->showing || selected >= items.size()) return;
    c->apply(name, items[selected].value);
  });
  (*ctx.bindings)[name] = {
      [&key, widget, items](const ConfigRecord& record) {
        const std::string value = key.get(record);
        const auto found = std::find_if(items.begin(), items.end(),
                                        [&](const ChoiceItem& i) { return i.value == value; });
        adw_combo_row_set_selected(ADW_COMBO_ROW(widget),
                                   found == items.end()
                                       ? GTK_INVALID_LIST_POSITION
                                       : static_cast<guint>(found - items.begin()));
      },
      widget};
  return widget;
}

// Free text, saved when the user presses the row's apply button (or Enter).
GtkWidget* TextRow(const SettingRow& row, SectionContext& ctx) {
  GtkWidget* widget = adw_entry_row_new();
  adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(widget), false);
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(widget), std::string(row.title).c_str());
  adw_entry_row_set_show_apply_button(ADW_ENTRY_ROW(widget), true);
  if (!row.subtitle.empty()) gtk_widget_set_tooltip_text(widget, std::string(row.subtitle).c_str());
  const std::string name(row.key);
  SectionContext* c = &ctx;
  ConnectSignal(widget, "apply",
                [c, widget, name] { c->apply(name, gtk_editable_get_text(GTK_EDITABLE(widget))); });
  (*ctx.bindings)[name] = {[c, widget, name](const ConfigRecord&) {
                             const std::string value = Stored(*c, name);
                             if (value != gtk_editable_get_text(GTK_EDITABLE(widget)))
                               gtk_editable_set_text(GTK_EDITABLE(widget), value.c_str());
                           },
                           widget};
  return widget;
}

GdkRGBA ToRgba(const std::string& text) {
  StyleColor colour;
  ParseThemeColor(text, &colour);
  return GdkRGBA{colour.r, colour.g, colour.b, colour.a};
}

GtkWidget* ColourRow(const SettingRow& row, const SettingKey& key, SectionContext& ctx) {
  GtkWidget* widget = ActionRow(row);
  const GdkRGBA initial = ToRgba(key.get(ctx.record()));
  GtkWidget* button = gtk_color_button_new_with_rgba(&initial);
  gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(button), true);
  gtk_color_button_set_title(GTK_COLOR_BUTTON(button), std::string(row.title).c_str());
  gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
  adw_action_row_add_suffix(ADW_ACTION_ROW(widget), button);
  adw_action_row_set_activatable_widget(ADW_ACTION_ROW(widget), button);
  const std::string name(key.name);
  SectionContext* c = &ctx;
  ConnectSignal(button, "color-set", [c, button, name] {
    GdkRGBA rgba;
    gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(button), &rgba);
    c->apply(name, FormatSettingColour({rgba.red, rgba.green, rgba.blue, rgba.alpha}));
  });
  (*ctx.bindings)[name] = {[&key, button, widget](const ConfigRecord& record) {
                             const GdkRGBA rgba = ToRgba(key.get(record));
                             gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(button), &rgba);
                             SetSubtitle(widget, key.get(record));
                           },
                           button};
  return widget;
}

// A path chosen with the desktop's file chooser, shown as the row's subtitle, and cleared with
// a button.
GtkWidget* FileRow(const SettingRow& row, SectionContext& ctx) {
  GtkWidget* widget = ActionRow(row);
  GtkWidget* clear = gtk_button_new_from_icon_name("edit-clear-symbolic");
  gtk_widget_set_valign(clear, GTK_ALIGN_CENTER);
  gtk_widget_add_css_class(clear, "flat");
  gtk_widget_set_tooltip_text(clear, "不使用");
  GtkWidget* choose = RowButton("選擇…");
  adw_action_row_add_suffix(ADW_ACTION_ROW(widget), clear);
  adw_action_row_add_suffix(ADW_ACTION_ROW(widget), choose);
  const std::string name(row.key);
  const std::string title(row.title);
  const bool images = row.control == RowControl::kImageFile;
  const std::string hint(row.subtitle);
  SectionContext* c = &ctx;
  ConnectSignal(clear, "clicked", [c, name] { c->apply(name, ""); });
  ConnectSignal(choose, "clicked", [c, name, title, images] {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        title.c_str(), c->window, GTK_FILE_CHOOSER_ACTION_OPEN, "選擇", "取消");
    if (images) {
      GtkFileFilter* filter = gtk_file_filter_new();
      gtk_file_filter_set_name(filter, "圖片");
      gtk_file_filter_add_mime_type(filter, "image/png");
      gtk_file_filter_add_mime_type(filter, "image/jpeg");
      gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
      g_object_unref(filter);
    }
    ConnectSignal(chooser, "response", [c, chooser, name] {
      if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(chooser))) {
        if (char* path = g_file_get_path(file)) {
          c->apply(name, path);
          g_free(path);
        }
        g_object_unref(file);
      }
      g_object_unref(chooser);
    });
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  });
  (*ctx.bindings)[name] = {[c, widget, clear, name, hint](const ConfigRecord&) {
                             const std::string value = Stored(*c, name);
                             SetSubtitle(widget, value.empty() ? hint : value);
                             gtk_widget_set_sensitive(clear, !value.empty());
                           },
                           choose};
  return widget;
}

class PlainSection final : public SectionView {
 public:
  PlainSection(const PageSection& section, SectionContext& ctx)
      : group_(SettingsGroup(section, ctx)) {}
  GtkWidget* Widget() override { return group_; }

 private:
  GtkWidget* group_;
};

}  // namespace

GtkWidget* BuildSettingRow(const SettingRow& row, SectionContext& ctx) {
  if (row.control == RowControl::kImageFile || row.control == RowControl::kFile)
    return FileRow(row, ctx);
  const SettingKey* key = FindSettingKey(row.key);
  if (key == nullptr) return TextRow(row, ctx);  // an endpoint
  if (row.control == RowControl::kColour) return ColourRow(row, *key, ctx);
  switch (key->type) {
    case SettingType::kSwitch:
      return row.true_label.empty() ? SwitchRow(row, *key, ctx) : TwoWordRow(row, *key, ctx);
    case SettingType::kNumber:
      return NumberRow(row, *key, ctx);
    case SettingType::kChoice:
      return ChoiceRow(row, *key, ctx);
    case SettingType::kText:
    case SettingType::kReadOnly:
      break;
  }
  return TextRow(row, ctx);
}

GtkWidget* SettingsGroup(const PageSection& section, SectionContext& ctx) {
  GtkWidget* group = adw_preferences_group_new();
  if (!section.title.empty())
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group),
                                    std::string(section.title).c_str());
  if (!section.description.empty())
    adw_preferences_group_set_description(ADW_PREFERENCES_GROUP(group),
                                          std::string(section.description).c_str());
  for (const SettingRow& row : section.rows)
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), BuildSettingRow(row, ctx));
  return group;
}

std::unique_ptr<SectionView> MakeSection(const PageSection& section, SectionContext& ctx) {
  switch (section.kind) {
    case SectionKind::kSettings:
    case SectionKind::kEndpoints:
      return std::make_unique<PlainSection>(section, ctx);
    case SectionKind::kScheme:
      return MakeSchemeSection(section, ctx);
    case SectionKind::kThemeGallery:
      return MakeThemeGallerySection(section, ctx);
    case SectionKind::kFuzzySounds:
      return MakeFuzzySoundsSection(section, ctx);
    case SectionKind::kDarkMode:
      return MakeDarkModeSection(section, ctx);
    case SectionKind::kVoiceModels:
      return MakeVoiceModelsSection(section, ctx);
    case SectionKind::kCompanion:
      return MakeCompanionSection(section, ctx);
    case SectionKind::kMaintenance:
      return MakeMaintenanceSection(section, ctx);
    case SectionKind::kBackups:
      return MakeBackupsSection(section, ctx);
    case SectionKind::kSchemeCatalogue:
      return MakeSchemeCatalogueSection(section, ctx);
    case SectionKind::kSchemePacks:
      return MakeSchemePacksSection(section, ctx);
    case SectionKind::kCloudWords:
      return MakeCloudWordsSection(section, ctx);
    case SectionKind::kVersion:
      return MakeVersionSection(section, ctx);
    case SectionKind::kProgramState:
      return MakeProgramStateSection(section, ctx);
    case SectionKind::kPendingUpdate:
      return MakePendingUpdateSection(section, ctx);
    case SectionKind::kLicences:
      return MakeLicencesSection(section, ctx);
  }
  return std::make_unique<PlainSection>(section, ctx);
}

}  // namespace kavi::win
