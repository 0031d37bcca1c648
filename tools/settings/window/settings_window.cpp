// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/window/settings_window.h"

#include "config/config_files.h"
#include "net/service_endpoints.h"
#include "ovra/pinyin_options.h"
#include "tools/settings/server_link.h"

namespace kavi::win {

namespace {

constexpr char kWindowTitle[] = "霜楓設定";
constexpr int kDefaultWidth = 1000;
constexpr int kDefaultHeight = 760;
// Saves come as bursts of file events (five files per save): read once they have settled.
constexpr guint kReloadDelayMs = 150;
// A page is laid out within a few frames of being shown; --key waits for it this long at most.
constexpr int kLayoutRetryMs = 50;
constexpr int kLayoutTries = 40;

bool IsSettingsFile(const std::string& name) {
  return name == kConfigFileName || name == kAppOptionsFileName || name == kEndpointsFileName ||
         name == kUserPinyinOptionsFile;
}

// Scrolls the page that holds `widget` so that it shows in the middle, once the page has been
// laid out (the page does not follow the keyboard focus by itself).
void ScrollIntoView(GtkWidget* widget, JobWatch::Schedule schedule, int tries) {
  GtkWidget* scrolled = gtk_widget_get_ancestor(widget, GTK_TYPE_SCROLLED_WINDOW);
  if (scrolled == nullptr) return;
  graphene_point_t at;
  const graphene_point_t origin = GRAPHENE_POINT_INIT(0, 0);
  const int height = gtk_widget_get_height(widget);
  if (height == 0 || gtk_widget_get_height(scrolled) == 0 ||
      !gtk_widget_compute_point(widget, scrolled, &origin, &at)) {
    if (tries > 0)
      schedule(kLayoutRetryMs,
               [widget, schedule, tries] { ScrollIntoView(widget, schedule, tries - 1); });
    return;
  }
  GtkAdjustment* adjustment = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
  const double top = gtk_adjustment_get_value(adjustment) + at.y;
  gtk_adjustment_set_value(adjustment,
                           top + height / 2.0 - gtk_adjustment_get_page_size(adjustment) / 2);
}

}  // namespace

SettingsWindow* SettingsWindow::Open(GtkApplication* app, std::filesystem::path config_directory,
                                     std::function<void()> destroyed) {
  return new SettingsWindow(app, std::move(config_directory), std::move(destroyed));
}

SettingsWindow::SettingsWindow(GtkApplication* app, std::filesystem::path config_directory,
                               std::function<void()> destroyed)
    : store_(std::move(config_directory)),
      alive_(std::make_shared<bool>(true)),
      destroyed_(std::move(destroyed)) {
  std::string message;
  if (!store_.Load(&record_, &message)) {
    // The window still opens with the defaults; the first save repairs the pair.
    record_ = ConfigRecord();
  }
  link_ = std::make_unique<ServerLink>(SettingsClientOptions(), MainLoopPost(alive_));

  window_ = adw_preferences_window_new();
  gtk_window_set_application(GTK_WINDOW(window_), app);
  gtk_window_set_title(GTK_WINDOW(window_), kWindowTitle);
  gtk_window_set_default_size(GTK_WINDOW(window_), kDefaultWidth, kDefaultHeight);

  ctx_.window = GTK_WINDOW(window_);
  ctx_.store = &store_;
  ctx_.link = link_.get();
  ctx_.alive = alive_;
  ctx_.schedule = MainLoopSchedule(alive_);
  ctx_.config_directory = store_.directory();
  ctx_.record = [this]() -> const ConfigRecord& { return record_; };
  ctx_.apply = [this](const std::string& key, const std::string& value) {
    return Apply(key, value);
  };
  ctx_.toast = [this](const std::string& text) { Toast(text); };
  ctx_.refresh_page = [this] { PageChanged(); };
  ctx_.showing = &showing_;
  ctx_.bindings = &bindings_;

  BuildPages();
  ShowStored();
  WatchFiles();
  ConnectSignal(window_, "notify::visible-page", [this] { PageChanged(); });
  ConnectSignal(window_, "destroy", [this] {
    *alive_ = false;
    if (destroyed_) destroyed_();
  });
  g_object_weak_ref(
      G_OBJECT(window_),
      +[](gpointer self, GObject*) { delete static_cast<SettingsWindow*>(self); }, this);
}

SettingsWindow::~SettingsWindow() {
  if (reload_source_) g_source_remove(reload_source_);
  if (monitor_) {
    g_file_monitor_cancel(monitor_);
    g_object_unref(monitor_);
  }
  sections_.clear();
}

void SettingsWindow::BuildPages() {
  for (const WindowPageInfo& info : WindowPages()) {
    GtkWidget* page = adw_preferences_page_new();
    adw_preferences_page_set_title(ADW_PREFERENCES_PAGE(page), std::string(info.title).c_str());
    adw_preferences_page_set_icon_name(ADW_PREFERENCES_PAGE(page), std::string(info.icon).c_str());
    adw_preferences_page_set_name(ADW_PREFERENCES_PAGE(page), std::string(info.name).c_str());
    adw_preferences_page_set_use_underline(ADW_PREFERENCES_PAGE(page), false);
    for (const PageSection& section : PageSections(info.page)) {
      std::unique_ptr<SectionView> view = MakeSection(section, ctx_);
      adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(view->Widget()));
      sections_[info.page].push_back(std::move(view));
    }
    adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window_), ADW_PREFERENCES_PAGE(page));
    pages_[info.page] = page;
  }
}

void SettingsWindow::Present(WindowPage page, const std::string& focus_key) {
  adw_preferences_window_set_visible_page(ADW_PREFERENCES_WINDOW(window_),
                                          ADW_PREFERENCES_PAGE(pages_[page]));
  PageChanged();
  gtk_window_present(GTK_WINDOW(window_));
  const auto binding = bindings_.find(focus_key);
  if (binding == bindings_.end() || binding->second.focus == nullptr) return;
  GtkWidget* focus = binding->second.focus;
  // A control folded inside an expander row is shown first.
  if (GtkWidget* expander = gtk_widget_get_ancestor(focus, ADW_TYPE_EXPANDER_ROW))
    adw_expander_row_set_expanded(ADW_EXPANDER_ROW(expander), true);
  const JobWatch::Schedule schedule = MainLoopSchedule(alive_);
  schedule(0, [focus, schedule] {
    gtk_widget_grab_focus(focus);
    ScrollIntoView(focus, schedule, kLayoutTries);
  });
}

bool SettingsWindow::Apply(const std::string& key, const std::string& value) {
  const ApplyOutcome outcome = store_.Set(key, value);
  if (outcome.ok()) {
    record_ = outcome.record;
    for (auto& [page, views] : sections_) {
      for (auto& view : views) view->SettingsChanged(record_);
    }
    return true;
  }
  Toast("無法儲存：" + outcome.message);
  ConfigRecord stored;
  std::string message;
  if (store_.Load(&stored, &message)) record_ = stored;
  ShowStored();
  return false;
}

void SettingsWindow::Toast(const std::string& text) {
  char* escaped = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
  adw_preferences_window_add_toast(ADW_PREFERENCES_WINDOW(window_), adw_toast_new(escaped));
  g_free(escaped);
}

void SettingsWindow::ShowStored() {
  showing_ = true;
  for (auto& [key, binding] : bindings_) {
    if (binding.show) binding.show(record_);
  }
  showing_ = false;
  for (auto& [page, views] : sections_) {
    for (auto& view : views) view->SettingsChanged(record_);
  }
}

void SettingsWindow::Reload() {
  reload_source_ = 0;
  ConfigRecord stored;
  std::string message;
  if (!store_.Load(&stored, &message)) return;  // a torn pair: the next event reads it whole
  record_ = stored;
  ShowStored();
}

void SettingsWindow::WatchFiles() {
  std::error_code error;
  std::filesystem::create_directories(store_.directory(), error);
  GFile* directory = g_file_new_for_path(store_.directory().c_str());
  monitor_ = g_file_monitor_directory(directory, G_FILE_MONITOR_WATCH_MOVES, nullptr, nullptr);
  g_object_unref(directory);
  if (monitor_ == nullptr) return;
  g_signal_connect(
      monitor_, "changed",
      G_CALLBACK(+[](GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent, gpointer data) {
        auto* self = static_cast<SettingsWindow*>(data);
        char* name = g_file_get_basename(file);
        char* other_name = other ? g_file_get_basename(other) : nullptr;
        const bool ours =
            IsSettingsFile(name ? name : "") || IsSettingsFile(other_name ? other_name : "");
        g_free(name);
        g_free(other_name);
        if (!ours || self->reload_source_ != 0) return;
        self->reload_source_ = g_timeout_add(
            kReloadDelayMs,
            +[](gpointer data) -> gboolean {
              static_cast<SettingsWindow*>(data)->Reload();
              return G_SOURCE_REMOVE;
            },
            self);
      }),
      this);
}

std::optional<WindowPage> SettingsWindow::VisiblePage() const {
  AdwPreferencesPage* visible =
      adw_preferences_window_get_visible_page(ADW_PREFERENCES_WINDOW(window_));
  for (const auto& [page, widget] : pages_) {
    if (ADW_PREFERENCES_PAGE(widget) == visible) return page;
  }
  return std::nullopt;
}

void SettingsWindow::PageChanged() {
  const std::optional<WindowPage> page = VisiblePage();
  if (!page) return;
  const std::string title = std::string(PageInfo(*page).title) + " – " + kWindowTitle;
  gtk_window_set_title(GTK_WINDOW(window_), title.c_str());
  for (auto& view : sections_[*page]) view->PageShown();
}

}  // namespace kavi::win
