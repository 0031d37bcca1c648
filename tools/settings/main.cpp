// SPDX-License-Identifier: Apache-2.0
// KaviSettings: changes the user's settings from the command line. The server's toolbar and tray
// start it with one switch each; people can also read and write any key.
#include <iostream>
#include <string>
#include <vector>

#include "config/config_files.h"
#include "platform/folders.h"
#include "tools/settings/settings_command.h"

int main(int argc, char** argv) {
  return kavi::win::RunSettingsCommand(
      std::vector<std::string>(argv + 1, argv + argc),
      kavi::win::server::ConfigDirectoryIn(kavi::win::RoamingAppDataFolder()), std::cout,
      std::cerr);
}
