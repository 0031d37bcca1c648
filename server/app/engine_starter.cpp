// SPDX-License-Identifier: Apache-2.0
#include "server/app/engine_starter.h"

#include <cstring>

#include "ovra/engine_api.h"

namespace kavi::win {

EngineStarter::EngineStarter(const ServerDirectories& dirs)
    : shared_data_(dirs.shared_data.string()),
      user_data_(dirs.user_root.string()),
      logs_(dirs.logs.string()) {}

void EngineStarter::Start() {
  KaviTraits traits{shared_data_.c_str(),  user_data_.c_str(), logs_.c_str(), kDistributionName,
                    kDistributionCodeName, kProgramVersion,    kAppName,      1};
  kavi_setup(&traits);
  Restart();
}

bool EngineStarter::HasScheme() {
  KaviContext context;
  std::memset(&context, 0, sizeof context);
  if (!kavi_get_context(&context)) return false;
  kavi_free_context(&context);
  return true;
}

void EngineStarter::Restart() {
  kavi_initialize();
  kavi_cloud_init();
}

}  // namespace kavi::win
