// SPDX-License-Identifier: Apache-2.0
#include "shell/tray_icon.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <pango/pangocairo.h>

#include <X11/Xlib.h>

#include <chrono>
#include <future>
#include <mutex>

#include "platform/log.h"
#include "platform/session_bus.h"
#include "platform/window/color_scheme.h"
#include "platform/window/desktop_theme.h"
#include "platform/x11_display.h"
#include "shell/toolbar_flags.h"
#include "shell/toolbar_painter.h"
#include "shell/toolbar_pointer.h"
#include "shell/update_notification.h"

namespace kavi::win {
namespace {

constexpr guint kRepaintTimerMs = 500;
constexpr guint kFlagsTimerMs = 200;
constexpr guint kCollapseTimerMs = 300;
constexpr char kMenuIdKey[] = "kavi-menu-id";
constexpr char kIndicatorId[] = "kavi";
constexpr char kIndicatorTitle[] = "霜楓輸入法";
constexpr char kChineseIcon[] = "kavi-zh";
constexpr char kLatinIcon[] = "kavi-en";
constexpr int kIconPixels = 64;

// The panel icon's two pictures, "中" and "A" on a rounded square, as PNG files.
void WriteIndicatorIcon(const std::filesystem::path& file, const char* text, bool latin) {
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kIconPixels, kIconPixels);
  cairo_t* cr = cairo_create(surface);
  RoundedRectanglePath(cr, 2, 2, kIconPixels - 4, kIconPixels - 4, 14);
  if (latin)
    cairo_set_source_rgb(cr, 0.36, 0.40, 0.45);
  else
    cairo_set_source_rgb(cr, 0.85, 0.33, 0.20);
  cairo_fill(cr);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(kToolbarTextFont);
  pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
  pango_font_description_set_absolute_size(font, 42 * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, text, -1);
  PangoRectangle ink;
  pango_layout_get_pixel_extents(layout, &ink, nullptr);
  cairo_move_to(cr, (kIconPixels - ink.width) / 2.0 - ink.x,
                (kIconPixels - ink.height) / 2.0 - ink.y);
  cairo_set_source_rgb(cr, 1, 1, 1);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_write_to_png(surface, file.c_str());
  cairo_surface_destroy(surface);
}

// X error handlers are process-wide, and GDK's end the process: on a lost connection always,
// on an error outside its traps by aborting. Installed as they are, they would take the server
// down with the desktop's display and would catch the candidate window's errors too. These
// route GTK's display to GDK's handler and every other display to the handlers that were there
// before GTK; GTK's lost display ends the tray's loop instead of the process.
Display* g_gtk_display = nullptr;
XErrorHandler g_error_before_gtk = nullptr;
XIOErrorHandler g_io_error_before_gtk = nullptr;
XErrorHandler g_gdk_error = nullptr;

int DispatchXError(Display* display, XErrorEvent* error) {
  const XErrorHandler handler = display == g_gtk_display ? g_gdk_error : g_error_before_gtk;
  return handler ? handler(display, error) : 0;
}

int DispatchXIOError(Display* display) {
  if (display != g_gtk_display && g_io_error_before_gtk) return g_io_error_before_gtk(display);
  return 0;  // the display's exit handler takes it from here
}

void RememberHandlersBeforeGtk() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_error_before_gtk = XSetErrorHandler(nullptr);
    XSetErrorHandler(g_error_before_gtk);
    g_io_error_before_gtk = XSetIOErrorHandler(nullptr);
    XSetIOErrorHandler(g_io_error_before_gtk);
  });
}

void RouteXErrors(Display* gtk_display) {
  static std::once_flag once;
  std::call_once(once, [gtk_display] {
    g_gtk_display = gtk_display;
    g_gdk_error = XSetErrorHandler(DispatchXError);
    XSetIOErrorHandler(DispatchXIOError);
  });
}

int MenuIdOf(GtkWidget* item) {
  return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), kMenuIdKey));
}

GtkWidget* FindMenuItem(GtkWidget* menu, int id) {
  GtkWidget* found = nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = children; l && !found; l = l->next) {
    GtkWidget* item = GTK_WIDGET(l->data);
    if (MenuIdOf(item) == id)
      found = item;
    else if (GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)))
      found = FindMenuItem(sub, id);
  }
  g_list_free(children);
  return found;
}

std::vector<TrayMenuItem> ReadMenuWidgets(GtkWidget* menu) {
  std::vector<TrayMenuItem> items;
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* l = children; l; l = l->next) {
    GtkWidget* widget = GTK_WIDGET(l->data);
    TrayMenuItem item;
    if (GTK_IS_SEPARATOR_MENU_ITEM(widget)) {
      item.kind = TrayMenuItem::Kind::kSeparator;
    } else {
      item.label = gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
      item.id = MenuIdOf(widget);
      if (GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget))) {
        item.kind = TrayMenuItem::Kind::kSubmenu;
        item.children = ReadMenuWidgets(sub);
      } else if (GTK_IS_RADIO_MENU_ITEM(widget)) {
        item.kind = TrayMenuItem::Kind::kRadio;
        item.checked = gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(widget));
      }
    }
    items.push_back(std::move(item));
  }
  g_list_free(children);
  return items;
}

}  // namespace

class TrayIcon::Thread {
 public:
  explicit Thread(TrayIconOptions options)
      : options_(std::move(options)),
        flags_(options_.user_root),
        notification_([this] { Run(options_.actions.about); }) {
    settings_ = options_.settings;
  }

  // Starts the thread and waits for it to be ready; false when it could not show its windows.
  bool Start() {
    try {
      thread_ = std::thread([this] { Main(); });
    } catch (const std::system_error&) {
      LogLine("[Kavi] 托盤執行緒初始化失敗\n");
      return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_.wait_for(lock, std::chrono::milliseconds(options_.ready_timeout_ms),
                           [this] { return startup_done_; })) {
      LogLine("[Kavi] 托盤執行緒初始化失敗\n");
      return false;
    }
    return running_;
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    Post([] { gtk_main_quit(); });
    if (thread_.joinable()) thread_.join();
  }

  // Queues work for the tray thread; false (and nothing queued) when it is not running. Work
  // queued while it runs is always run, if need be after its loop has ended.
  bool Post(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return false;
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
          (*static_cast<std::function<void()>*>(data))();
          return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, nullptr);
    g_source_unref(source);
    return true;
  }

  // ---- State changes from other threads.

  void SetClientFocus(bool has_focus) {
    Post([this, has_focus] { OnFocusChanged(has_focus); });
  }

  void SetAsciiMode(bool ascii) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (ascii_posted_ == ascii) return;
      ascii_posted_ = ascii;
    }
    Post([this, ascii] {
      ascii_ = ascii;
      Repaint();
      UpdateIndicatorIcon();
    });
  }

  void ApplySettings(const TrayDisplaySettings& settings) {
    Post([this, settings] {
      settings_ = settings;
      ResolvePalette();
      Relayout();
      RebuildIndicatorMenu();
      ShowSchemeName();
    });
  }

  void ShowUpdateNotice(const std::string& version) {
    Post([this, version] { notification_.Show(version); });
  }

  // ---- Read back on the tray thread.

  ToolbarSnapshot Snapshot() const {
    ToolbarSnapshot s;
    if (!window_) return s;
    s.visible = gtk_widget_get_visible(window_);
    s.shape = Shape();
    const ToolbarRect size = ToolbarSize(s.shape);
    s.width = size.width;
    s.height = size.height;
    s.origin = origin_;
    if (GdkWindow* gdk = gtk_widget_get_window(window_)) {
      gdk_window_get_origin(gdk, &s.origin.x, &s.origin.y);
      s.xid = GDK_WINDOW_XID(gdk);
    }
    s.dialog_open = dialog_ != nullptr;
    s.notice_shown = notification_.shown();
    return s;
  }

  std::vector<TrayMenuItem> OpenMenuItems() const {
    if (!menu_ || !gtk_widget_get_visible(menu_)) return {};
    return ReadMenuWidgets(menu_);
  }

  bool ActivateOpenMenuItem(int id) {
    if (!menu_) return false;
    GtkWidget* item = FindMenuItem(menu_, id);
    if (!item) return false;
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu_));
    return true;
  }

  bool AnswerConfirmation(bool ok) {
    if (!dialog_) return false;
    gtk_dialog_response(GTK_DIALOG(dialog_), ok ? GTK_RESPONSE_OK : GTK_RESPONSE_CANCEL);
    return true;
  }

  void OpenMenu() { ShowMenu(nullptr); }

  void CloseMenu() {
    if (menu_) gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu_));
  }

  bool SaveScreenArea(const std::filesystem::path& file, int x, int y, int width, int height) {
    GdkPixbuf* pixels =
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, width, height);
    if (!pixels) return false;
    const bool saved = gdk_pixbuf_save(pixels, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixels);
    return saved;
  }

  // The open menu's extent on screen, or an empty rectangle.
  ToolbarRect OpenMenuArea() const {
    if (!menu_ || !gtk_widget_get_visible(menu_)) return {};
    GtkWidget* top = gtk_widget_get_toplevel(menu_);
    GdkWindow* gdk = gtk_widget_get_window(top);
    if (!gdk) return {};
    ToolbarRect area;
    gdk_window_get_origin(gdk, &area.x, &area.y);
    area.width = gdk_window_get_width(gdk);
    area.height = gdk_window_get_height(gdk);
    return area;
  }

 private:
  void Main() {
    gdk_set_allowed_backends("x11");
    RememberHandlersBeforeGtk();
    const bool opened = OpenDisplay();
    if (opened) {
      Display* display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
      RouteXErrors(display);
      XSetIOErrorExitHandler(display, &Thread::OnDisplayLost, this);
    }
    const bool ok = opened && BuildToolbar();
    if (!ok) LogLine("[Kavi] 常顯工具欄建立失敗\n");
    if (ok) {
      // The preference arrives on the listener's thread; the palette follows on this one.
      ColorSchemeSources sources;
      // dconf, behind GSettings, needs the bus too.
      if (!SessionBusReachable()) sources = {"none", false};
      color_scheme_ = std::make_unique<DesktopColorScheme>(sources, [this] {
        Post([this] {
          if (PrefersDark() != dark_) ResolvePalette();
          Repaint();
        });
      });
      if (SessionBusReachable()) BuildIndicator();
      ShowSchemeName();
      repaint_timer_ = g_timeout_add(kRepaintTimerMs, &Thread::OnRepaintTimer, this);
      flags_timer_ = g_timeout_add(kFlagsTimerMs, &Thread::OnFlagsTimer, this);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_ = ok && !stopping_;
      startup_done_ = true;
    }
    started_.notify_all();
    if (!running_) {
      TearDown();
      return;
    }
    gtk_main();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_ = false;
    }
    if (display_lost_) {
      // Every X call on the dead connection fails again: the widgets are left as they are.
      LogLine("[Kavi] 工具欄失去 X 顯示，已停用\n");
      return;
    }
    // Work queued before running_ was cleared still runs, against the live windows.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    TearDown();
  }

  static void OnDisplayLost(Display*, void* self) {
    auto* t = static_cast<Thread*>(self);
    t->display_lost_ = true;
    gtk_main_quit();
  }

  // GTK on the default display. A display that refuses GTK's first connection (a server
  // still starting up, or one at its client limit for a moment) gets two more tries; with no
  // display named at all there is none to wait for (a start without one would otherwise spend
  // 200 ms here before serving).
  static bool OpenDisplay() {
    if (!XDisplayNamed()) return false;
    if (gtk_init_check(nullptr, nullptr)) return true;
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (GdkDisplay* display = gdk_display_open(nullptr)) {
        gdk_display_manager_set_default_display(gdk_display_manager_get(), display);
        return true;
      }
    }
    return false;
  }

  void TearDown() {
    color_scheme_.reset();
    for (guint* timer : {&repaint_timer_, &flags_timer_, &collapse_timer_, &hide_timer_}) {
      if (*timer) g_source_remove(*timer);
      *timer = 0;
    }
    notification_.Close();
    if (dialog_) gtk_widget_destroy(dialog_);
    dialog_ = nullptr;
    if (menu_) gtk_widget_destroy(menu_);
    menu_ = nullptr;
    if (indicator_) g_object_unref(indicator_);
    indicator_ = nullptr;
    if (window_) gtk_widget_destroy(window_);
    window_ = nullptr;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }

  bool BuildToolbar() {
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen) return false;
    const double dpi = gdk_screen_get_resolution(screen);
    text_scale_ = dpi > 0 ? dpi / 96.0 : 1.0;
    mini_ = flags_.Read(kMiniToolbarValue) != 0;
    hidden_ = flags_.Read(kToolbarHiddenValue) != 0;
    ResolvePalette();

    window_ = gtk_window_new(GTK_WINDOW_POPUP);
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_title(window, "KaviToolbarWindow");
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_accept_focus(window, FALSE);
    gtk_window_set_focus_on_map(window, FALSE);
    gtk_window_set_keep_above(window, TRUE);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    gtk_window_set_skip_pager_hint(window, TRUE);
    gtk_window_set_resizable(window, FALSE);
    gtk_widget_set_app_paintable(window_, TRUE);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                       GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK |
                                       GDK_LEAVE_NOTIFY_MASK);
    g_signal_connect(window_, "draw", G_CALLBACK(&Thread::OnDraw), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(&Thread::OnButtonPress), this);
    g_signal_connect(window_, "button-release-event", G_CALLBACK(&Thread::OnButtonRelease), this);
    g_signal_connect(window_, "motion-notify-event", G_CALLBACK(&Thread::OnMotion), this);
    g_signal_connect(window_, "enter-notify-event", G_CALLBACK(&Thread::OnEnter), this);
    g_signal_connect(window_, "leave-notify-event", G_CALLBACK(&Thread::OnLeave), this);
    g_signal_connect(screen, "monitors-changed", G_CALLBACK(&Thread::OnMonitorsChanged), this);

    const ToolbarRect size = ToolbarSize(Shape());
    origin_ = InitialToolbarOrigin(size.width, size.height, WorkAreaAt(0, 0, true));
    Relayout();
    return true;
  }

  void BuildIndicator() {
    std::error_code error;
    std::filesystem::create_directories(options_.icon_dir, error);
    WriteIndicatorIcon(options_.icon_dir / (std::string(kChineseIcon) + ".png"), "中", false);
    WriteIndicatorIcon(options_.icon_dir / (std::string(kLatinIcon) + ".png"), "A", true);
    indicator_ = app_indicator_new_with_path(kIndicatorId, kChineseIcon,
                                             APP_INDICATOR_CATEGORY_SYSTEM_SERVICES,
                                             options_.icon_dir.c_str());
    app_indicator_set_title(indicator_, kIndicatorTitle);
    app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_ACTIVE);
    RebuildIndicatorMenu();
    UpdateIndicatorIcon();
  }

  // "霜楓輸入法 · 全拼" as the toolbar's tooltip and the panel icon's title.
  void ShowSchemeName() {
    if (!options_.actions.schema_label || !window_) return;
    const std::string title =
        std::string(kIndicatorTitle) + " · " + options_.actions.schema_label();
    gtk_widget_set_tooltip_text(window_, title.c_str());
    if (indicator_) app_indicator_set_title(indicator_, title.c_str());
  }

  // ---- Shape, placement, visibility.

  ToolbarShape Shape() const {
    if (!mini_) return ToolbarShape::kStandard;
    return mini_expanded_ ? ToolbarShape::kMiniExpanded : ToolbarShape::kMiniCollapsed;
  }

  // The work area of the monitor at (or nearest to) a screen point, or of the primary monitor.
  ToolbarRect WorkAreaAt(int x, int y, bool primary) const {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = primary ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor) monitor = gdk_display_get_monitor_at_point(display, x, y);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle area{0, 0, 1920, 1080};
    if (monitor) gdk_monitor_get_workarea(monitor, &area);
    return {area.x, area.y, area.width, area.height};
  }

  void Relayout() {
    if (!window_) return;
    const ToolbarRect size = ToolbarSize(Shape());
    gtk_widget_set_size_request(window_, size.width, size.height);
    gtk_window_resize(GTK_WINDOW(window_), size.width, size.height);
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A1, size.width, size.height);
    cairo_t* cr = cairo_create(mask);
    RoundedRectanglePath(cr, 0, 0, size.width, size.height, palette_.corner_radius);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_region_t* region = gdk_cairo_region_create_from_surface(mask);
    gtk_widget_shape_combine_region(window_, region);
    cairo_region_destroy(region);
    cairo_surface_destroy(mask);
    MoveTo(origin_);
    Repaint();
  }

  // Moves the window, keeping it wholly inside the work area of the monitor nearest to it.
  void MoveTo(ToolbarPoint origin) {
    const ToolbarRect size = ToolbarSize(Shape());
    const ToolbarRect area =
        WorkAreaAt(origin.x + size.width / 2, origin.y + size.height / 2, false);
    origin_ = ClampToWorkArea(origin, size.width, size.height, area);
    gtk_window_move(GTK_WINDOW(window_), origin_.x, origin_.y);
  }

  void UpdateVisibility() {
    if (!window_) return;
    const bool show = focus_ && !hidden_;
    if (show && !gtk_widget_get_visible(window_)) {
      MoveTo(origin_);
      gtk_widget_show(window_);
    } else if (!show && gtk_widget_get_visible(window_)) {
      gtk_widget_hide(window_);
    }
  }

  void OnFocusChanged(bool has_focus) {
    focus_ = has_focus;
    if (has_focus) {
      if (hide_timer_) g_source_remove(hide_timer_);
      hide_timer_ = 0;
      UpdateVisibility();
      return;
    }
    // Focus often moves straight from one client to another: wait before hiding.
    if (!hide_timer_) hide_timer_ = g_timeout_add(kFocusHideDelayMs, &Thread::OnHideTimer, this);
  }

  static gboolean OnHideTimer(gpointer self) {
    auto* t = static_cast<Thread*>(self);
    t->hide_timer_ = 0;
    t->UpdateVisibility();
    return G_SOURCE_REMOVE;
  }

  void Repaint() {
    if (window_) gtk_widget_queue_draw(window_);
  }

  void ResolvePalette() {
    dark_ = PrefersDark();
    palette_ = ResolveToolbarPalette(settings_.palette, dark_);
  }

  bool PrefersDark() const {
    return DesktopPrefersDark(color_scheme_ ? color_scheme_->Current() : ColorScheme::kNoPreference,
                              GtkSettingsPath());
  }

  // ---- Timers.

  static gboolean OnRepaintTimer(gpointer self) {
    auto* t = static_cast<Thread*>(self);
    const bool recording =
        t->options_.actions.recording_state && t->options_.actions.recording_state() != 0;
    if (recording != t->recording_) {
      t->recording_ = recording;
      t->RebuildIndicatorMenu();
    }
    if (t->PrefersDark() != t->dark_) t->ResolvePalette();
    t->Repaint();
    return G_SOURCE_CONTINUE;
  }

  static gboolean OnFlagsTimer(gpointer self) {
    static_cast<Thread*>(self)->ReadFlags();
    return G_SOURCE_CONTINUE;
  }

  void ReadFlags() {
    const bool mini = flags_.Read(kMiniToolbarValue) != 0;
    const bool hidden = flags_.Read(kToolbarHiddenValue) != 0;
    if (mini != mini_) {
      mini_ = mini;
      mini_expanded_ = false;
      Relayout();
      RebuildIndicatorMenu();
    }
    if (hidden != hidden_) {
      hidden_ = hidden;
      UpdateVisibility();
    }
  }

  static gboolean OnCollapseTimer(gpointer self) {
    auto* t = static_cast<Thread*>(self);
    t->collapse_timer_ = 0;
    if (t->mini_ && t->mini_expanded_ && !t->pointer_.pressed()) {
      t->mini_expanded_ = false;
      t->Relayout();
    }
    return G_SOURCE_REMOVE;
  }

  // ---- Pointer.

  static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    ToolbarView view;
    view.shape = t->Shape();
    view.ascii_mode = t->ascii_;
    view.simplified_output = t->settings_.simplified_output;
    view.recording = t->recording_;
    view.hovered = t->hovered_;
    view.pressed = t->pointer_.dragging() ? ToolbarButton::kNoButton : t->pointer_.pressed_button();
    view.text_scale = t->text_scale_;
    PaintToolbar(cr, view, t->palette_);
    return TRUE;
  }

  static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    if (event->type != GDK_BUTTON_PRESS) return TRUE;
    if (event->button == GDK_BUTTON_SECONDARY) {
      t->ShowMenu(reinterpret_cast<GdkEvent*>(event));
      return TRUE;
    }
    if (event->button != GDK_BUTTON_PRIMARY) return TRUE;
    if (t->mini_ && !t->mini_expanded_) {
      t->mini_expanded_ = true;
      t->Relayout();
    }
    const ToolbarButton hit =
        HitTestToolbar(t->Shape(), static_cast<int>(event->x), static_cast<int>(event->y));
    t->pointer_.Press(hit, {static_cast<int>(event->x_root), static_cast<int>(event->y_root)},
                      t->origin_);
    t->Repaint();
    return TRUE;
  }

  static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    if (auto origin =
            t->pointer_.Move({static_cast<int>(event->x_root), static_cast<int>(event->y_root)})) {
      t->MoveTo(*origin);
      return TRUE;
    }
    const ToolbarButton hit =
        HitTestToolbar(t->Shape(), static_cast<int>(event->x), static_cast<int>(event->y));
    if (hit != t->hovered_) {
      t->hovered_ = hit;
      t->Repaint();
    }
    return TRUE;
  }

  static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    if (event->button != GDK_BUTTON_PRIMARY) return TRUE;
    const ToolbarButton hit =
        HitTestToolbar(t->Shape(), static_cast<int>(event->x), static_cast<int>(event->y));
    const ToolbarButton clicked = t->pointer_.Release(hit);
    t->Repaint();
    t->RunButton(clicked, static_cast<int>(event->x_root), static_cast<int>(event->y_root));
    return TRUE;
  }

  static gboolean OnEnter(GtkWidget*, GdkEventCrossing*, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    if (t->collapse_timer_) g_source_remove(t->collapse_timer_);
    t->collapse_timer_ = 0;
    return FALSE;
  }

  static gboolean OnLeave(GtkWidget*, GdkEventCrossing* event, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    // The implicit grab of a press reports the pointer leaving while the button is held.
    if (event->mode != GDK_CROSSING_NORMAL) return FALSE;
    t->hovered_ = ToolbarButton::kNoButton;
    t->Repaint();
    if (t->mini_ && !t->collapse_timer_)
      t->collapse_timer_ = g_timeout_add(kCollapseTimerMs, &Thread::OnCollapseTimer, t);
    return FALSE;
  }

  static void OnMonitorsChanged(GdkScreen*, gpointer self) {
    static_cast<Thread*>(self)->Relayout();
  }

  void RunButton(ToolbarButton button, int x, int y) {
    const ToolbarActions& a = options_.actions;
    switch (button) {
      case ToolbarButton::kInputMode:
        Run(a.toggle_input_mode);
        break;
      case ToolbarButton::kScript:
        Run(a.toggle_script);
        break;
      case ToolbarButton::kTranslate:
        if (a.translate) a.translate(x, y);
        break;
      case ToolbarButton::kMicrophone:
        Run(a.toggle_recording);
        break;
      case ToolbarButton::kSettings:
        Run(a.open_settings);
        break;
      case ToolbarButton::kNoButton:
        break;
    }
  }

  static void Run(const std::function<void()>& action) {
    if (action) action();
  }

  // ---- Menu.

  TrayMenuState MenuState() const {
    TrayMenuState state;
    state.traditional_output = !settings_.simplified_output;
    state.recording = recording_;
    if (options_.actions.account_label) state.account_label = options_.actions.account_label();
    state.voice_output_language = settings_.voice_output_language;
    state.mixed_english = settings_.mixed_english;
    state.key_sound = settings_.key_sound;
    state.mini_toolbar = mini_;
    state.version = options_.version;
    return state;
  }

  GtkWidget* BuildMenu(const std::vector<TrayMenuItem>& items) {
    GtkWidget* menu = gtk_menu_new();
    GSList* group = nullptr;
    for (const TrayMenuItem& item : items) {
      GtkWidget* widget = nullptr;
      switch (item.kind) {
        case TrayMenuItem::Kind::kSeparator:
          widget = gtk_separator_menu_item_new();
          break;
        case TrayMenuItem::Kind::kSubmenu:
          widget = gtk_menu_item_new_with_label(item.label.c_str());
          gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), BuildMenu(item.children));
          break;
        case TrayMenuItem::Kind::kRadio:
          widget = gtk_radio_menu_item_new_with_label(group, item.label.c_str());
          group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(widget));
          gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
          break;
        case TrayMenuItem::Kind::kItem:
          widget = gtk_menu_item_new_with_label(item.label.c_str());
          break;
      }
      if (item.id) {
        g_object_set_data(G_OBJECT(widget), kMenuIdKey, GINT_TO_POINTER(item.id));
        g_signal_connect(widget, "activate", G_CALLBACK(&Thread::OnMenuActivate), this);
      }
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
    gtk_widget_show_all(menu);
    return menu;
  }

  // The menu opens at the cursor with its bottom edge there (it grows upwards, away from a
  // toolbar that usually sits low on the screen); GTK flips it when there is no room.
  void ShowMenu(GdkEvent* event) {
    if (menu_) gtk_widget_destroy(menu_);
    menu_ = BuildMenu(BuildTrayMenu(MenuState()));
    gtk_menu_attach_to_widget(GTK_MENU(menu_), window_, nullptr);
    GdkWindow* gdk = gtk_widget_get_window(window_);
    if (!gdk) return;
    // Opened without a click (the tray icon, a screenshot): just above the toolbar.
    GdkRectangle cursor{0, 0, 1, 1};
    if (event) {
      cursor.x = static_cast<int>(event->button.x);
      cursor.y = static_cast<int>(event->button.y);
    }
    gtk_menu_popup_at_rect(GTK_MENU(menu_), gdk, &cursor, GDK_GRAVITY_NORTH_WEST,
                           GDK_GRAVITY_SOUTH_WEST, event);
  }

  void RebuildIndicatorMenu() {
    if (!indicator_) return;
    app_indicator_set_menu(indicator_, GTK_MENU(BuildMenu(BuildTrayMenu(MenuState()))));
  }

  void UpdateIndicatorIcon() {
    if (!indicator_) return;
    app_indicator_set_icon_full(indicator_, ascii_ ? kLatinIcon : kChineseIcon,
                                ascii_ ? "A" : "中");
  }

  static void OnMenuActivate(GtkMenuItem* item, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    if (GTK_IS_RADIO_MENU_ITEM(item) && !gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)))
      return;  // the radio item that was just unchecked
    int x = 0, y = 0;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_display_get_default());
    if (GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr)
      gdk_device_get_position(pointer, nullptr, &x, &y);
    switch (RunTrayMenuCommand(MenuIdOf(GTK_WIDGET(item)), t->options_.actions, x, y)) {
      case TrayMenuEffect::kHideToolbar:
        t->AskToHide();
        break;
      case TrayMenuEffect::kToggleMini:
        t->flags_.Write(kMiniToolbarValue, t->mini_ ? 0 : 1);
        t->ReadFlags();
        break;
      case TrayMenuEffect::kExit:
        Run(t->options_.shutdown);
        break;
      case TrayMenuEffect::kRan:
      case TrayMenuEffect::kNone:
        break;
    }
  }

  void AskToHide() {
    if (dialog_) return;
    dialog_ = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                     GTK_BUTTONS_OK_CANCEL, "%s", kHideToolbarQuestion);
    gtk_window_set_title(GTK_WINDOW(dialog_), kHideToolbarTitle);
    gtk_window_set_keep_above(GTK_WINDOW(dialog_), TRUE);
    g_signal_connect(dialog_, "response", G_CALLBACK(&Thread::OnConfirmation), this);
    gtk_widget_show_all(dialog_);
  }

  static void OnConfirmation(GtkDialog* dialog, int response, gpointer self) {
    auto* t = static_cast<Thread*>(self);
    gtk_widget_destroy(GTK_WIDGET(dialog));
    t->dialog_ = nullptr;
    if (response != GTK_RESPONSE_OK) return;
    t->hidden_ = true;
    t->flags_.Write(kToolbarHiddenValue, 1);
    t->UpdateVisibility();
  }

  TrayIconOptions options_;
  ToolbarFlags flags_;
  UpdateNotification notification_;
  std::thread thread_;

  // Shared with other threads, under mutex_.
  std::mutex mutex_;
  std::condition_variable started_;
  bool startup_done_ = false;
  bool running_ = false;
  bool stopping_ = false;
  int ascii_posted_ = -1;

  // Tray thread only.
  TrayDisplaySettings settings_;
  ToolbarPalette palette_;
  bool dark_ = false;
  double text_scale_ = 1.0;
  GtkWidget* window_ = nullptr;
  GtkWidget* menu_ = nullptr;
  GtkWidget* dialog_ = nullptr;
  AppIndicator* indicator_ = nullptr;
  std::unique_ptr<DesktopColorScheme> color_scheme_;
  ToolbarPoint origin_;
  ToolbarPointer pointer_;
  ToolbarButton hovered_ = ToolbarButton::kNoButton;
  bool focus_ = false;
  bool ascii_ = false;
  bool recording_ = false;
  bool mini_ = false;
  bool mini_expanded_ = false;
  bool hidden_ = false;
  bool display_lost_ = false;
  guint repaint_timer_ = 0, flags_timer_ = 0, collapse_timer_ = 0, hide_timer_ = 0;
};

TrayIcon::TrayIcon(TrayIconOptions options)
    : thread_(std::make_unique<Thread>(std::move(options))) {
  ready_ = thread_->Start();
}

TrayIcon::~TrayIcon() {
  thread_->Stop();
}

void TrayIcon::SetClientFocus(bool has_focus) {
  thread_->SetClientFocus(has_focus);
}
void TrayIcon::SetAsciiMode(bool ascii_mode) {
  thread_->SetAsciiMode(ascii_mode);
}
void TrayIcon::ApplySettings(const TrayDisplaySettings& settings) {
  thread_->ApplySettings(settings);
}
void TrayIcon::ShowUpdateNotice(const std::string& version) {
  thread_->ShowUpdateNotice(version);
}

void TrayIcon::RunOnTrayThread(std::function<void()> work) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  if (thread_->Post([&] {
        work();
        done.set_value();
      }))
    finished.wait();
}

ToolbarSnapshot TrayIcon::Snapshot() {
  ToolbarSnapshot snapshot;
  RunOnTrayThread([&] { snapshot = thread_->Snapshot(); });
  return snapshot;
}

std::vector<TrayMenuItem> TrayIcon::OpenMenuItems() {
  std::vector<TrayMenuItem> items;
  RunOnTrayThread([&] { items = thread_->OpenMenuItems(); });
  return items;
}

bool TrayIcon::ActivateOpenMenuItem(int id) {
  bool done = false;
  RunOnTrayThread([&] { done = thread_->ActivateOpenMenuItem(id); });
  return done;
}

bool TrayIcon::AnswerConfirmation(bool ok) {
  bool done = false;
  RunOnTrayThread([&] { done = thread_->AnswerConfirmation(ok); });
  return done;
}

void TrayIcon::OpenMenu() {
  RunOnTrayThread([&] { thread_->OpenMenu(); });
}

void TrayIcon::CloseMenu() {
  RunOnTrayThread([&] { thread_->CloseMenu(); });
}

bool TrayIcon::SaveScreenArea(const std::filesystem::path& file, int x, int y, int width,
                              int height) {
  bool saved = false;
  RunOnTrayThread([&] { saved = thread_->SaveScreenArea(file, x, y, width, height); });
  return saved;
}

ToolbarRect TrayIcon::OpenMenuArea() {
  ToolbarRect area;
  RunOnTrayThread([&] { area = thread_->OpenMenuArea(); });
  return area;
}

}  // namespace kavi::win
