// SPDX-License-Identifier: Apache-2.0
// KaviSettings on a display: one application per desktop session, so that the toolbar's second
// click (--page=voice while the window is open) turns the open window to that page instead of
// opening another.
#pragma once

#include "tools/settings/launch_plan.h"

namespace kavi::win {

// Runs the window or the popup of `plan` until it is closed. False, with nothing shown, when
// there is no display: the caller then runs the command line.
bool RunSettingsApplication(const LaunchPlan& plan, int argc, char** argv, int* exit_code);

}  // namespace kavi::win
