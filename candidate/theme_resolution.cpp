// SPDX-License-Identifier: Apache-2.0
#include "candidate/theme_resolution.h"

#include "config/themes/theme_loader.h"
#include "platform/log.h"

namespace kavi::win {

CandidateStyle ResolveCandidateStyle(const std::filesystem::path& builtin_dir,
                                     const std::filesystem::path& user_dir,
                                     const std::string& theme_id, bool dark) {
  CandidateStyle style;
  const std::string id = IsValidThemeId(theme_id) ? theme_id : std::string(kDefaultThemeId);
  std::string message;
  if (LoadTheme(builtin_dir, user_dir, id, dark, &style, &message)) return style;
  if (LoadTheme(builtin_dir, user_dir, kDefaultThemeId, dark, &style, &message)) return style;
  LogLine("[Kavi] 主題載入失敗：" + message + "\n");
  return CandidateStyle{};
}

}  // namespace kavi::win
