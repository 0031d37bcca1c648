// SPDX-License-Identifier: Apache-2.0
// Starts the engine with the server's directories: setup, initialise, cloud init. The
// maintenance and scheme-pack jobs restart it through the same path.
#pragma once

#include <string>

#include "server/app/server_directories.h"

namespace kavi::win {

inline constexpr char kDistributionName[] = "Kavi";
inline constexpr char kDistributionCodeName[] = "kavi-win";
inline constexpr char kProgramVersion[] = "0.5.1";
inline constexpr char kAppName[] = "KaviServer";

class EngineStarter {
 public:
  explicit EngineStarter(const ServerDirectories& dirs);
  // kavi_setup, kavi_initialize, kavi_cloud_init. The caller holds the engine lock.
  void Start();
  // kavi_initialize and kavi_cloud_init after a kavi_finalize. The caller holds the lock.
  void Restart();
  // True when the engine has a scheme loaded (it answers a context request). The caller holds
  // the lock.
  static bool HasScheme();

 private:
  std::string shared_data_, user_data_, logs_;
};

}  // namespace kavi::win
