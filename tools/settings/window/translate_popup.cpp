// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/window/translate_popup.h"

#include "net/service_endpoints.h"
#include "net/service_translation.h"
#include "platform/folders.h"
#include "tools/settings/endpoint_settings.h"
#include "tools/settings/launch_plan.h"
#include "tools/settings/window/x11_geometry.h"
#include "tools/settings/window_pages.h"

namespace kavi::win {

namespace {

constexpr char kTargetKey[] = "translate_target_lang";
constexpr int kPopupWidth = 440;
constexpr int kPopupHeight = 380;
constexpr int kMargin = 12;

GtkWidget* Framed(GtkWidget* child, int height) {
  GtkWidget* scrolled = gtk_scrolled_window_new();
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), child);
  gtk_widget_set_size_request(scrolled, -1, height);
  gtk_widget_add_css_class(scrolled, "card");
  return scrolled;
}

}  // namespace

void TranslatePopup::Open(GtkApplication* app, std::filesystem::path config_directory, int x,
                          int y) {
  new TranslatePopup(app, std::move(config_directory), x, y);
}

TranslatePopup::TranslatePopup(GtkApplication* app, std::filesystem::path config_directory, int x,
                               int y)
    : store_(std::move(config_directory)), alive_(std::make_shared<bool>(true)), x_(x), y_(y) {
  worker_ = std::make_unique<ServerLink>(SettingsClientOptions(), MainLoopPost(alive_));
  Build(app);
  gtk_window_present(GTK_WINDOW(window_));
  ReadClipboard();
}

TranslatePopup::~TranslatePopup() {
  // A translation still on its way stops; the worker's thread is joined with it.
  cancellation_.Cancel();
  worker_.reset();
}

void TranslatePopup::Build(GtkApplication* app) {
  window_ = adw_window_new();
  gtk_window_set_application(GTK_WINDOW(window_), app);
  gtk_window_set_title(GTK_WINDOW(window_), "翻譯");
  gtk_window_set_default_size(GTK_WINDOW(window_), kPopupWidth, kPopupHeight);

  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* header = adw_header_bar_new();
  gtk_widget_add_css_class(header, "flat");
  gtk_box_append(GTK_BOX(content), header);

  GtkWidget* body = gtk_box_new(GTK_ORIENTATION_VERTICAL, kMargin);
  gtk_widget_set_margin_start(body, kMargin);
  gtk_widget_set_margin_end(body, kMargin);
  gtk_widget_set_margin_bottom(body, kMargin);
  gtk_box_append(GTK_BOX(content), body);

  source_ = gtk_text_view_new();
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(source_), GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(source_), 8);
  gtk_text_view_set_right_margin(GTK_TEXT_VIEW(source_), 8);
  gtk_text_view_set_top_margin(GTK_TEXT_VIEW(source_), 8);
  gtk_text_view_set_bottom_margin(GTK_TEXT_VIEW(source_), 8);
  gtk_widget_add_css_class(source_, "inline");
  gtk_box_append(GTK_BOX(body), Framed(source_, 90));

  GtkWidget* controls = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* label = gtk_label_new("翻譯成");
  gtk_box_append(GTK_BOX(controls), label);
  const std::vector<ChoiceItem> items = ChoiceItems(*FindSettingKey(kTargetKey));
  GtkStringList* names = gtk_string_list_new(nullptr);
  for (const ChoiceItem& item : items) {
    targets_.push_back(item.value);
    gtk_string_list_append(names, item.label.c_str());
  }
  target_ = gtk_drop_down_new(G_LIST_MODEL(names), nullptr);
  ConfigRecord record;
  std::string message;
  store_.Load(&record, &message);
  for (size_t i = 0; i < targets_.size(); ++i) {
    if (targets_[i] == record.app.translate_target_lang)
      gtk_drop_down_set_selected(GTK_DROP_DOWN(target_), static_cast<guint>(i));
  }
  gtk_box_append(GTK_BOX(controls), target_);
  GtkWidget* spacer = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_widget_set_hexpand(spacer, true);
  gtk_box_append(GTK_BOX(controls), spacer);
  spinner_ = gtk_spinner_new();
  gtk_box_append(GTK_BOX(controls), spinner_);
  translate_ = gtk_button_new_with_label("翻譯");
  gtk_widget_add_css_class(translate_, "suggested-action");
  gtk_box_append(GTK_BOX(controls), translate_);
  gtk_box_append(GTK_BOX(body), controls);

  result_ = gtk_label_new(nullptr);
  gtk_label_set_wrap(GTK_LABEL(result_), true);
  gtk_label_set_wrap_mode(GTK_LABEL(result_), PANGO_WRAP_WORD_CHAR);
  gtk_label_set_selectable(GTK_LABEL(result_), true);
  gtk_label_set_xalign(GTK_LABEL(result_), 0);
  gtk_label_set_yalign(GTK_LABEL(result_), 0);
  gtk_widget_set_margin_start(result_, 8);
  gtk_widget_set_margin_end(result_, 8);
  gtk_widget_set_margin_top(result_, 8);
  gtk_widget_set_margin_bottom(result_, 8);
  gtk_widget_set_vexpand(result_, true);
  gtk_box_append(GTK_BOX(body), Framed(result_, 110));

  GtkWidget* footer = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  status_ = gtk_label_new(nullptr);
  gtk_label_set_wrap(GTK_LABEL(status_), true);
  gtk_label_set_xalign(GTK_LABEL(status_), 0);
  gtk_widget_set_hexpand(status_, true);
  gtk_widget_add_css_class(status_, "dim-label");
  gtk_box_append(GTK_BOX(footer), status_);
  copy_ = gtk_button_new_with_label("複製譯文");
  gtk_widget_set_sensitive(copy_, false);
  gtk_box_append(GTK_BOX(footer), copy_);
  gtk_box_append(GTK_BOX(body), footer);

  adw_window_set_content(ADW_WINDOW(window_), content);

  ConnectSignal(translate_, "clicked", [this] { Translate(); });
  ConnectSignal(target_, "notify::selected", [this] {
    std::string target = Target();
    if (target.empty()) return;
    // The toolbar's next translation and the translation command use the same language.
    store_.Set(kTargetKey, target);
    Translate();
  });
  ConnectSignal(copy_, "clicked", [this] {
    gdk_clipboard_set_text(gtk_widget_get_clipboard(window_), translation_.c_str());
    gtk_label_set_text(GTK_LABEL(status_), "已複製到剪貼簿");
  });
  // Esc closes, Ctrl+Enter translates.
  GtkEventController* keys = gtk_event_controller_key_new();
  g_signal_connect(
      keys, "key-pressed",
      G_CALLBACK(+[](GtkEventControllerKey*, guint key, guint, GdkModifierType state,
                     gpointer data) -> gboolean {
        auto* self = static_cast<TranslatePopup*>(data);
        if (key == GDK_KEY_Escape) {
          gtk_window_close(GTK_WINDOW(self->window_));
          return true;
        }
        if ((key == GDK_KEY_Return || key == GDK_KEY_KP_Enter) && (state & GDK_CONTROL_MASK)) {
          self->Translate();
          return true;
        }
        return false;
      }),
      this);
  gtk_widget_add_controller(window_, keys);
  // Placed before it is first shown (so it never flashes at the corner), and again once its
  // size is known.
  ConnectSignal(window_, "realize", [this] { Place(); });
  ConnectSignal(window_, "map", [this] { Place(); });
  ConnectSignal(window_, "destroy", [this] { *alive_ = false; });
  g_object_weak_ref(
      G_OBJECT(window_),
      +[](gpointer self, GObject*) { delete static_cast<TranslatePopup*>(self); }, this);
}

void TranslatePopup::Place() {
  const int width = gtk_widget_get_width(window_);
  const int height = gtk_widget_get_height(window_);
  const ScreenRect area = MonitorAreaAt(gtk_widget_get_display(window_), x_, y_);
  const ScreenPoint origin = TranslatePopupOrigin(x_, y_, width > 0 ? width : kPopupWidth,
                                                  height > 0 ? height : kPopupHeight, area);
  PlaceWindowAt(GTK_WINDOW(window_), origin.x, origin.y);
}

std::string TranslatePopup::Target() const {
  const guint selected = gtk_drop_down_get_selected(GTK_DROP_DOWN(target_));
  return selected < targets_.size() ? targets_[selected] : std::string();
}

void TranslatePopup::ReadClipboard() {
  gtk_label_set_text(GTK_LABEL(status_), "正在讀取剪貼簿…");
  struct Reader {
    AliveToken alive;
    TranslatePopup* popup;
  };
  gdk_clipboard_read_text_async(
      gtk_widget_get_clipboard(window_), nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Reader> reader(static_cast<Reader*>(data));
        char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr);
        if (*reader->alive) {
          TranslatePopup* self = reader->popup;
          gtk_label_set_text(GTK_LABEL(self->status_), "");
          if (text != nullptr) {
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(self->source_)), text,
                                     -1);
          }
          self->Translate();
        }
        g_free(text);
      },
      new Reader{alive_, this});
}

void TranslatePopup::Translate() {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(source_));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  char* typed = gtk_text_buffer_get_text(buffer, &start, &end, false);
  const std::string text = typed;
  g_free(typed);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    gtk_label_set_text(GTK_LABEL(status_), "剪貼簿沒有文字；在上方輸入要翻譯的文字");
    gtk_widget_grab_focus(source_);
    return;
  }
  const std::string target = Target();
  const int generation = ++generation_;
  gtk_spinner_start(GTK_SPINNER(spinner_));
  gtk_label_set_text(GTK_LABEL(status_), "翻譯中…");
  const std::filesystem::path shipped = ShippedFilesFolder() / "data" / kEndpointsFileName;
  const std::filesystem::path user = UserEndpointsFile(store_.directory());
  HttpCancellation* cancellation = &cancellation_;
  worker_->Run([this, text, target, generation, shipped, user,
                cancellation](KaviClient&) -> std::function<void()> {
    ServiceTranslation translation(shipped, user);
    std::string translated, error;
    const bool ok = translation.Translate(text, target, &translated, &error, cancellation);
    return [this, generation, ok, translated, error] {
      if (generation != generation_) return;  // a newer request replaced it
      ShowResult(ok, ok ? translated : error);
    };
  });
}

void TranslatePopup::ShowResult(bool ok, const std::string& text) {
  gtk_spinner_stop(GTK_SPINNER(spinner_));
  if (ok) {
    translation_ = text;
    gtk_label_set_text(GTK_LABEL(result_), text.c_str());
    gtk_label_set_text(GTK_LABEL(status_), "");
  } else {
    gtk_label_set_text(GTK_LABEL(status_), ("無法翻譯：" + text).c_str());
  }
  gtk_widget_set_sensitive(copy_, ok && !text.empty());
}

}  // namespace kavi::win
