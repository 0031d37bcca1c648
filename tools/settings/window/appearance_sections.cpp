// SPDX-License-Identifier: Apache-2.0
// The appearance page's own sections: the theme gallery, whose tiles are drawn by the candidate
// window's painting and whose choice the real candidate window shows beside the tile (request
// kind 41); and the desktop's dark mode, which the candidate window follows.
#include <vector>

#include "config/themes/catalog_listing.h"
#include "tools/settings/server_requests.h"
#include "tools/settings/theme_choices.h"
#include "tools/settings/theme_sample.h"
#include "tools/settings/window/section_view.h"
#include "tools/settings/window/x11_geometry.h"

namespace kavi::win {

namespace {

constexpr char kThemeKey[] = "theme";
constexpr int kTileSpacing = 12;
// Two samples side by side fill the page's column: they are drawn a little smaller than the
// candidate window draws them.
constexpr int kTilesPerLine = 2;
constexpr double kSampleScale = 0.8;

// The sample as a texture GTK can show: cairo's ARGB32 is premultiplied B, G, R, A in memory
// on a little-endian machine.
GdkTexture* SampleTexture(const CairoSurface& surface) {
  const int width = cairo_image_surface_get_width(surface.get());
  const int height = cairo_image_surface_get_height(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  GBytes* bytes =
      g_bytes_new(cairo_image_surface_get_data(surface.get()), static_cast<gsize>(stride) * height);
  GdkTexture* texture =
      gdk_memory_texture_new(width, height, GDK_MEMORY_B8G8R8A8_PREMULTIPLIED, bytes, stride);
  g_bytes_unref(bytes);
  return texture;
}

class ThemeGallerySection final : public SectionView {
 public:
  ThemeGallerySection(const PageSection& section, SectionContext& ctx) : ctx_(ctx) {
    group_ = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group_),
                                    std::string(section.title).c_str());
    adw_preferences_group_set_description(ADW_PREFERENCES_GROUP(group_),
                                          std::string(section.description).c_str());
    gallery_ = gtk_flow_box_new();
    gtk_flow_box_set_selection_mode(GTK_FLOW_BOX(gallery_), GTK_SELECTION_SINGLE);
    gtk_flow_box_set_homogeneous(GTK_FLOW_BOX(gallery_), true);
    gtk_flow_box_set_min_children_per_line(GTK_FLOW_BOX(gallery_), 1);
    gtk_flow_box_set_max_children_per_line(GTK_FLOW_BOX(gallery_), kTilesPerLine);
    gtk_flow_box_set_column_spacing(GTK_FLOW_BOX(gallery_), kTileSpacing);
    gtk_flow_box_set_row_spacing(GTK_FLOW_BOX(gallery_), kTileSpacing);
    gtk_flow_box_set_activate_on_single_click(GTK_FLOW_BOX(gallery_), true);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), gallery_);
    g_signal_connect(gallery_, "child-activated",
                     G_CALLBACK(+[](GtkFlowBox*, GtkFlowBoxChild* child, gpointer self) {
                       static_cast<ThemeGallerySection*>(self)->Choose(child);
                     }),
                     this);
    dark_handler_ =
        ConnectSignal(adw_style_manager_get_default(), "notify::dark", [this] { Build(); });
    (*ctx.bindings)[kThemeKey] = {[this](const ConfigRecord& record) { Select(record); }, gallery_};
    // Until the server lists its themes, the shipped and the user's themes as this program
    // finds them.
    themes_ = ListThemes(InstalledThemesDirectory(), UserThemesDirectory(ctx.config_directory));
    Build();
  }

  ~ThemeGallerySection() override {
    g_signal_handler_disconnect(adw_style_manager_get_default(), dark_handler_);
  }

  GtkWidget* Widget() override { return group_; }

  // The samples are drawn in the orientation the user types with.
  void SettingsChanged(const ConfigRecord& record) override {
    if (record.engine.horizontal != horizontal_) Build();
  }

  void PageShown() override {
    ctx_.link->Run([this](KaviClient& client) -> std::function<void()> {
      CatalogListing listing = ListCatalog(client, RequestKind::ListCatalogAlt);
      return [this, listing = std::move(listing)] {
        if (listing.entries.empty() || listing.entries == themes_) return;
        themes_ = listing.entries;
        Build();
      };
    });
  }

 private:
  struct Tile {
    std::string id;
    GtkFlowBoxChild* child;
    GtkWidget* picture;
  };

  void Build() {
    while (GtkWidget* child = gtk_widget_get_first_child(gallery_))
      gtk_flow_box_remove(GTK_FLOW_BOX(gallery_), child);
    tiles_.clear();
    horizontal_ = ctx_.record().engine.horizontal;
    const bool dark = adw_style_manager_get_dark(adw_style_manager_get_default());
    for (const CatalogEntry& theme : themes_) {
      GtkWidget* tile = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
      gtk_widget_set_margin_top(tile, 6);
      gtk_widget_set_margin_bottom(tile, 6);
      GtkWidget* picture = gtk_picture_new();
      gtk_widget_set_halign(picture, GTK_ALIGN_CENTER);
      gtk_widget_set_valign(picture, GTK_ALIGN_CENTER);
      gtk_widget_set_vexpand(picture, true);
      ThemeSampleRequest request;
      request.builtin_dir = InstalledThemesDirectory();
      request.user_dir = UserThemesDirectory(ctx_.config_directory);
      request.theme_id = theme.id;
      request.dark = dark;
      request.horizontal = horizontal_;
      request.scale = kSampleScale * gtk_widget_get_scale_factor(gallery_);
      std::string message;
      if (CairoSurface sample = RenderThemeSample(request, &message)) {
        GdkTexture* texture = SampleTexture(sample);
        gtk_picture_set_paintable(GTK_PICTURE(picture), GDK_PAINTABLE(texture));
        // Drawn at the screen's scale: shown at its size in the window's units.
        const int factor = gtk_widget_get_scale_factor(gallery_);
        gtk_widget_set_size_request(picture, gdk_texture_get_width(texture) / factor,
                                    gdk_texture_get_height(texture) / factor);
        g_object_unref(texture);
      }
      GtkWidget* name =
          gtk_label_new(theme.detail.empty() ? theme.id.c_str() : theme.detail.c_str());
      gtk_box_append(GTK_BOX(tile), picture);
      gtk_box_append(GTK_BOX(tile), name);
      gtk_widget_set_tooltip_text(tile, theme.id.c_str());
      gtk_flow_box_append(GTK_FLOW_BOX(gallery_), tile);
      tiles_.push_back({theme.id, GTK_FLOW_BOX_CHILD(gtk_widget_get_parent(tile)), picture});
    }
    Select(ctx_.record());
  }

  void Select(const ConfigRecord& record) {
    for (const Tile& tile : tiles_) {
      if (tile.id == record.app.theme)
        gtk_flow_box_select_child(GTK_FLOW_BOX(gallery_), tile.child);
    }
  }

  // The user chose a theme: save it, and have the candidate window show it right below the
  // tile, in the orientation the user types with.
  void Choose(GtkFlowBoxChild* child) {
    for (const Tile& tile : tiles_) {
      if (tile.child != child) continue;
      if (tile.id != ctx_.record().app.theme && !ctx_.apply(kThemeKey, tile.id)) return;
      const std::optional<ScreenRect> where = WidgetScreenRect(tile.picture);
      if (!where) return;
      const uint32_t horizontal = ctx_.record().engine.horizontal ? 1 : 0;
      // The sample appears under the anchor, as it does under a caret.
      ctx_.link->Send(
          RequestKind::PreviewTheme, tile.id, horizontal, [](const ServerAnswer&) {}, *where);
    }
  }

  SectionContext& ctx_;
  GtkWidget* group_;
  GtkWidget* gallery_;
  std::vector<CatalogEntry> themes_;
  std::vector<Tile> tiles_;
  bool horizontal_ = true;
  gulong dark_handler_ = 0;
};

class DarkModeSection final : public SectionView {
 public:
  DarkModeSection(const PageSection& section, SectionContext&) {
    group_ = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group_),
                                    std::string(section.title).c_str());
    row_ = StateRow("跟隨桌面", "", "weather-clear-night-symbolic");
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group_), row_);
    dark_handler_ =
        ConnectSignal(adw_style_manager_get_default(), "notify::dark", [this] { Show(); });
    Show();
  }

  ~DarkModeSection() override {
    g_signal_handler_disconnect(adw_style_manager_get_default(), dark_handler_);
  }

  GtkWidget* Widget() override { return group_; }

 private:
  void Show() {
    const bool dark = adw_style_manager_get_dark(adw_style_manager_get_default());
    SetSubtitle(row_, std::string("候選窗與狀態列依桌面的深淺色設定換用主題的深色配色；目前為") +
                          (dark ? "深色" : "淺色"));
  }

  GtkWidget* group_;
  GtkWidget* row_;
  gulong dark_handler_ = 0;
};

}  // namespace

std::unique_ptr<SectionView> MakeThemeGallerySection(const PageSection& section,
                                                     SectionContext& ctx) {
  return std::make_unique<ThemeGallerySection>(section, ctx);
}

std::unique_ptr<SectionView> MakeDarkModeSection(const PageSection& section, SectionContext& ctx) {
  return std::make_unique<DarkModeSection>(section, ctx);
}

}  // namespace kavi::win
