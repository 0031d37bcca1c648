// SPDX-License-Identifier: Apache-2.0
// The schemes the server has (request kind 39): chosen on the input page, listed with where
// each came from on the packs page.
#include <vector>

#include "tools/settings/scheme_names.h"
#include "tools/settings/server_requests.h"
#include "tools/settings/window/section_view.h"

namespace kavi::win {

namespace {

constexpr char kSchemeKey[] = "schema";

// Asks for the scheme catalogue; `done` runs on the window's thread.
void ListSchemes(SectionContext& ctx, std::function<void(const CatalogListing&)> done) {
  ctx.link->Run([done = std::move(done)](KaviClient& client) -> std::function<void()> {
    CatalogListing listing = ListCatalog(client, RequestKind::ListCatalog);
    return [done, listing = std::move(listing)] { done(listing); };
  });
}

std::string SchemeLabel(const CatalogEntry& entry) {
  return SchemeDisplayName(InstalledSchemesDirectory(), entry.id);
}

class SchemeSection final : public SectionView {
 public:
  SchemeSection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group_),
                                    std::string(section.title).c_str());
    row_ = adw_combo_row_new();
    adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(row_), false);
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row_),
                                  std::string(section.rows.front().title).c_str());
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), row_);
    ConnectSignal(row_, "notify::selected", [this] {
      const guint selected = adw_combo_row_get_selected(ADW_COMBO_ROW(row_));
      if (*ctx_.showing || filling_ || selected >= ids_.size()) return;
      ctx_.apply(kSchemeKey, ids_[selected]);
    });
    (*ctx.bindings)[kSchemeKey] = {[this](const ConfigRecord& record) { Fill(record); }, row_};
    Fill(ctx.record());
  }

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    ListSchemes(ctx_, [this](const CatalogListing& listing) {
      listing_ = listing;
      Fill(ctx_.record());
    });
  }

 private:
  // The catalogue's schemes (or, without one, the stored scheme alone), the stored one chosen.
  void Fill(const ConfigRecord& record) {
    filling_ = true;
    ids_.clear();
    GtkStringList* labels = gtk_string_list_new(nullptr);
    for (const CatalogEntry& entry : listing_.entries) {
      ids_.push_back(entry.id);
      gtk_string_list_append(labels, SchemeLabel(entry).c_str());
    }
    const std::string& current = record.engine.schema;
    if (std::find(ids_.begin(), ids_.end(), current) == ids_.end()) {
      ids_.push_back(current);
      const std::string label = SchemeLabel({current, {}});
      gtk_string_list_append(
          labels, listing_.entries.empty() ? label.c_str() : (label + "（已不存在）").c_str());
    }
    adw_combo_row_set_model(ADW_COMBO_ROW(row_), G_LIST_MODEL(labels));
    g_object_unref(labels);
    const auto at = std::find(ids_.begin(), ids_.end(), current) - ids_.begin();
    adw_combo_row_set_selected(ADW_COMBO_ROW(row_), static_cast<guint>(at));
    SetSubtitle(row_, listing_.reached
                          ? "切換後立即生效"
                          : ServiceStateText(ServiceState::kServerNotRunning) + "，無法列出方案");
    gtk_widget_set_sensitive(row_, listing_.reached);
    filling_ = false;
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  GtkWidget* row_;
  CatalogListing listing_;
  std::vector<std::string> ids_;
  bool filling_ = false;
};

class SchemeCatalogueSection final : public SectionView {
 public:
  SchemeCatalogueSection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group_),
                                    std::string(section.title).c_str());
  }

  GtkWidget* Widget() override { return group_; }

  void PageShown() override {
    ListSchemes(ctx_, [this](const CatalogListing& listing) { Show(listing); });
  }

 private:
  void Show(const CatalogListing& listing) {
    for (GtkWidget* row : rows_) adw_preferences_group_remove(ADW_PREFERENCES_GROUP(group_), row);
    rows_.clear();
    if (!listing.reached) {
      rows_.push_back(StateRow(ServiceStateText(ServiceState::kServerNotRunning),
                               "啟動輸入服務後即可看到它的方案"));
    }
    for (const CatalogEntry& entry : listing.entries) {
      GtkWidget* row = StateRow(SchemeLabel(entry), entry.id, "input-keyboard-symbolic");
      GtkWidget* source = gtk_label_new(SchemeSourceText(entry.detail).c_str());
      gtk_widget_add_css_class(source, "dim-label");
      adw_action_row_add_suffix(ADW_ACTION_ROW(row), source);
      if (entry.id == ctx_.record().engine.schema) {
        GtkWidget* mark = gtk_image_new_from_icon_name("object-select-symbolic");
        gtk_widget_set_tooltip_text(mark, "使用中");
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), mark);
      }
      rows_.push_back(row);
    }
    for (GtkWidget* row : rows_) adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), row);
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  std::vector<GtkWidget*> rows_;
};

}  // namespace

std::unique_ptr<SectionView> MakeSchemeSection(const PageSection& section, SectionContext& ctx) {
  return std::make_unique<SchemeSection>(section, ctx);
}

std::unique_ptr<SectionView> MakeSchemeCatalogueSection(const PageSection& section,
                                                        SectionContext& ctx) {
  return std::make_unique<SchemeCatalogueSection>(section, ctx);
}

}  // namespace kavi::win
