// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/window/settings_application.h"

#include <adwaita.h>

#include "platform/folders.h"
#include "tools/settings/window/settings_window.h"
#include "tools/settings/window/translate_popup.h"

namespace kavi::win {

namespace {

constexpr char kApplicationId[] = "com.norvale.Kavi.Settings";
constexpr char kIconName[] = "kavi";
// The icon themes beside the data folder: share/icons when installed.
constexpr char kIconsBesideData[] = "../icons";

struct Application {
  std::filesystem::path config_directory;
  SettingsWindow* window = nullptr;
};

// Every start with a window plan arrives here, in the first instance: its own, and those of
// later starts while it runs.
int OnCommandLine(GApplication* gapp, GApplicationCommandLine* command_line, gpointer data) {
  auto* app = static_cast<Application*>(data);
  int argc = 0;
  char** argv = g_application_command_line_get_arguments(command_line, &argc);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  g_strfreev(argv);
  const LaunchPlan plan = PlanLaunch(args, app->config_directory);
  if (plan.mode == LaunchPlan::Mode::kTranslatePopup) {
    TranslatePopup::Open(GTK_APPLICATION(gapp), app->config_directory, plan.x, plan.y);
  } else if (plan.mode == LaunchPlan::Mode::kWindow) {
    if (app->window == nullptr) {
      app->window = SettingsWindow::Open(GTK_APPLICATION(gapp), app->config_directory,
                                         [app] { app->window = nullptr; });
    }
    app->window->Present(plan.page, plan.focus_key);
  }
  return 0;
}

}  // namespace

bool RunSettingsApplication(const LaunchPlan& plan, int argc, char** argv, int* exit_code) {
  if (!gtk_init_check()) return false;
  gtk_icon_theme_add_search_path(gtk_icon_theme_get_for_display(gdk_display_get_default()),
                                 (ShippedFilesFolder() / kIconsBesideData).c_str());
  gtk_window_set_default_icon_name(kIconName);
  // A window on another configuration directory is not the desktop's settings window: it runs
  // on its own.
  const GApplicationFlags flags =
      static_cast<GApplicationFlags>(G_APPLICATION_HANDLES_COMMAND_LINE |
                                     (plan.config_directory_given ? G_APPLICATION_NON_UNIQUE : 0));
  AdwApplication* gapp = adw_application_new(kApplicationId, flags);
  Application app{plan.config_directory};
  g_signal_connect(gapp, "command-line", G_CALLBACK(OnCommandLine), &app);
  *exit_code = g_application_run(G_APPLICATION(gapp), argc, argv);
  g_object_unref(gapp);
  return true;
}

}  // namespace kavi::win
