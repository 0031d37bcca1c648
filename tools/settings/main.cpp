// SPDX-License-Identifier: Apache-2.0
// KaviSettings: the settings window on a display, the command line always. The server's toolbar
// and tray start it with one switch each; people can also read and write any key.
#include <iostream>
#include <string>
#include <vector>

#include "config/config_files.h"
#include "platform/folders.h"
#include "tools/settings/launch_plan.h"
#include "tools/settings/settings_command.h"
#include "tools/settings/window/settings_application.h"

int main(int argc, char** argv) {
  using namespace kavi::win;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::filesystem::path directory = server::ConfigDirectoryIn(RoamingAppDataFolder());
  const LaunchPlan plan = PlanLaunch(args, directory);
  if (plan.mode != LaunchPlan::Mode::kCommandLine) {
    int exit_code = 0;
    if (RunSettingsApplication(plan, argc, argv, &exit_code)) return exit_code;
  }
  return RunSettingsCommand(args, directory, std::cout, std::cerr);
}
