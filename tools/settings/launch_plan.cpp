// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/launch_plan.h"

#include <algorithm>
#include <charconv>

namespace kavi::win {

namespace {

constexpr std::string_view kPageSwitch = "--page=";
constexpr std::string_view kKeySwitch = "--key=";
constexpr std::string_view kPopupSwitch = "--translate-popup=";
constexpr std::string_view kConfigDirSwitch = "--config-dir";
// The popup keeps clear of the pointer that clicked the toolbar.
constexpr int kPopupGap = 12;

bool ParseInt(std::string_view text, int* value) {
  if (text.empty() || text.size() > 11) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseScreenPoint(std::string_view text, int* x, int* y) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) return false;
  return ParseInt(text.substr(0, comma), x) && ParseInt(text.substr(comma + 1), y);
}

LaunchPlan PlanLaunch(const std::vector<std::string>& args,
                      const std::filesystem::path& default_directory) {
  LaunchPlan plan;
  plan.config_directory = default_directory;
  LaunchPlan::Mode mode = LaunchPlan::Mode::kWindow;
  int shown = 0;  // pages, keys and popups asked for: the window shows one
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == kConfigDirSwitch && i + 1 < args.size()) {
      plan.config_directory = args[++i];
      plan.config_directory_given = true;
    } else if (arg.starts_with(std::string(kConfigDirSwitch) + "=")) {
      plan.config_directory = std::string(arg.substr(kConfigDirSwitch.size() + 1));
      plan.config_directory_given = true;
    } else if (arg.starts_with(kPageSwitch)) {
      const std::optional<WindowPage> page = WindowPageNamed(arg.substr(kPageSwitch.size()));
      if (!page) return plan;  // the command line says which pages there are
      plan.page = *page;
      ++shown;
    } else if (arg.starts_with(kKeySwitch)) {
      const std::string key(arg.substr(kKeySwitch.size()));
      const std::optional<RowPlace> place = FindRow(key);
      if (!place) return plan;
      plan.page = place->page;
      plan.focus_key = key;
      ++shown;
    } else if (arg.starts_with(kPopupSwitch)) {
      if (!ParseScreenPoint(arg.substr(kPopupSwitch.size()), &plan.x, &plan.y)) return plan;
      mode = LaunchPlan::Mode::kTranslatePopup;
      ++shown;
    } else {
      // --set, --get, --list, --help, the toggles, --set-voice-lang and anything unknown.
      return plan;
    }
  }
  if (shown > 1) return plan;  // the command line refuses what cannot be combined
  plan.mode = mode;
  return plan;
}

ScreenPoint TranslatePopupOrigin(int x, int y, int width, int height, const ScreenRect& area) {
  ScreenPoint origin{x + kPopupGap, y + kPopupGap};
  if (origin.x + width > area.right) origin.x = area.right - width;
  if (origin.y + height > area.bottom) origin.y = y - kPopupGap - height;
  origin.x = std::max(origin.x, area.left);
  origin.y = std::max(origin.y, area.top);
  return origin;
}

}  // namespace kavi::win
