// SPDX-License-Identifier: Apache-2.0
#include "server/session/foreground_rule.h"

namespace kavi::win {

bool IsFrameworkBridge(const std::optional<std::filesystem::path>& executable, bool traced,
                       const std::filesystem::path& program_folder) {
  if (!executable || traced || program_folder.empty()) return false;
  const std::filesystem::path exe = executable->lexically_normal();
  for (const char* program : kFrameworkBridgePrograms)
    if (exe == (program_folder / program).lexically_normal()) return true;
  return false;
}

bool ForegroundRule::PassesFocusIn(const std::function<bool()>& owns_active_window) const {
  return framework_bridge_ || owns_active_window();
}

bool ForegroundRule::Passes(bool owns_composition,
                            const std::function<bool()>& owns_active_window) const {
  if (framework_bridge_) return focused_ && owns_composition;
  return owns_active_window();
}

}  // namespace kavi::win
