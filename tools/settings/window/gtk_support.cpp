// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/window/gtk_support.h"

namespace kavi::win {

namespace {

using Task = std::function<void()>;

gboolean RunTask(gpointer data) {
  (*static_cast<Task*>(data))();
  return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) {
  delete static_cast<Task*>(data);
}

Task Guarded(const AliveToken& alive, Task task) {
  return [alive, task = std::move(task)] {
    if (*alive) task();
  };
}

}  // namespace

ServerLink::Post MainLoopPost(AliveToken alive) {
  return [alive](Task task) {
    // g_idle_add is the one GLib call that may come from another thread.
    g_idle_add_full(G_PRIORITY_DEFAULT, RunTask, new Task(Guarded(alive, std::move(task))),
                    DeleteTask);
  };
}

JobWatch::Schedule MainLoopSchedule(AliveToken alive) {
  return [alive](int delay_ms, Task task) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(delay_ms), RunTask,
                       new Task(Guarded(alive, std::move(task))), DeleteTask);
  };
}

gulong ConnectSignal(gpointer instance, const char* signal, std::function<void()> handler) {
  // Swapped, the handler's data comes first, whatever the signal's own arguments are.
  return g_signal_connect_data(
      instance, signal, G_CALLBACK(+[](gpointer data) { (*static_cast<Task*>(data))(); }),
      new Task(std::move(handler)), [](gpointer data, GClosure*) { DeleteTask(data); },
      G_CONNECT_SWAPPED);
}

GtkWidget* StateRow(const std::string& title, const std::string& subtitle, const char* icon_name) {
  GtkWidget* row = adw_action_row_new();
  adw_preferences_row_set_use_markup(ADW_PREFERENCES_ROW(row), false);
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title.c_str());
  if (!subtitle.empty()) adw_action_row_set_subtitle(ADW_ACTION_ROW(row), subtitle.c_str());
  GtkWidget* icon = gtk_image_new_from_icon_name(icon_name);
  gtk_widget_add_css_class(icon, "dim-label");
  adw_action_row_add_prefix(ADW_ACTION_ROW(row), icon);
  return row;
}

GtkWidget* RowButton(const char* label, const char* style_class) {
  GtkWidget* button = gtk_button_new_with_label(label);
  gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
  if (style_class) gtk_widget_add_css_class(button, style_class);
  return button;
}

void SetSubtitle(GtkWidget* action_row, const std::string& text) {
  adw_action_row_set_subtitle(ADW_ACTION_ROW(action_row), text.c_str());
}

}  // namespace kavi::win
