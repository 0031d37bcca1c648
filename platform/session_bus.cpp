// SPDX-License-Identifier: Apache-2.0
#include "platform/session_bus.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace kavi::win {

bool SessionBusReachable() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return false;
  struct stat info {};
  return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

void KeepToolkitsOffAbsentSessionBus() {
  if (!SessionBusReachable()) ::setenv("NO_AT_BRIDGE", "1", 1);
}

}  // namespace kavi::win
