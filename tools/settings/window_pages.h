// SPDX-License-Identifier: Apache-2.0
// What the settings window shows: its pages, the sections of each page in order, and the rows
// that edit a key, with the words a user reads. The window builds its widgets from this and
// nothing else decides where a key appears.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "style/candidate_style.h"
#include "tools/settings/setting_keys.h"

namespace kavi::win {

enum class WindowPage {
  kInput,
  kAppearance,
  kVoice,
  kAccount,
  kDictionary,
  kPacks,
  kNetwork,
  kAbout
};

struct WindowPageInfo {
  WindowPage page;
  std::string_view name;  // as in --page=NAME
  std::string_view title;
  std::string_view icon;  // a symbolic icon of the desktop's icon theme
};

// In the order the window shows them.
std::span<const WindowPageInfo> WindowPages();
const WindowPageInfo& PageInfo(WindowPage page);

// The page that --page=NAME opens: a window page's own name, or one of the command line's pages
// (sound, translate, general), which open the window page that holds their keys.
std::optional<WindowPage> WindowPageNamed(std::string_view name);

// What a section of a page holds besides plain setting rows: each is built by the window from
// the server's answers or the files it reads.
enum class SectionKind {
  kSettings,         // only the rows
  kScheme,           // the scheme, chosen from the server's catalogue
  kThemeGallery,     // the themes, as drawn samples
  kDarkMode,         // whether the desktop asks for dark colours
  kVoiceModels,      // download, cancel and remove the recogniser's models
  kCompanion,        // pairing with the companion app
  kMaintenance,      // sync and back up, redeploy, with the job's progress
  kBackups,          // the backups folder
  kSchemeCatalogue,  // the schemes the server has, with where each came from
  kSchemePacks,      // the packs of the service's manifest
  kEndpoints,        // the service and companion addresses, the extra CA bundle
  kFuzzySounds,      // the fuzzy sounds (FuzzySounds()), each one a check box
  kCloudWords,       // what cloud words send, beside their switch
  kVersion,          // the program's name and version
  kProgramState,     // whether the server runs, where the settings are
  kPendingUpdate,    // the downloaded update, with its install button
  kLicences,         // the licences of the program and what it ships
};

// How a text key is edited when plain text is not the way.
enum class RowControl {
  kAuto,       // from the key's type: a switch, a number, a list or a text entry
  kColour,     // a colour button over the "0xBBGGRR" / "0xAABBGGRR" text
  kImageFile,  // a file chooser over a path, which may be cleared
  kFile,       // the same, for any file
};

struct SettingRow {
  std::string_view key;
  std::string_view title;
  std::string_view subtitle;
  // A switch that is on while the stored boolean is false ("check for updates" over
  // disable_auto_update_check).
  bool inverted = false;
  // When both are set, a boolean is shown as a list of two: the true value's words first.
  std::string_view true_label = {};
  std::string_view false_label = {};
  RowControl control = RowControl::kAuto;
};

struct PageSection {
  SectionKind kind = SectionKind::kSettings;
  std::string_view title;
  std::string_view description;
  std::vector<SettingRow> rows;
};

// The sections of a page in order. Every key of the two files except config_version has exactly
// one row in the window; a key no section names yet is shown in a last "其他" section of the page
// that holds its command-line page's keys.
std::vector<PageSection> PageSections(WindowPage page);

// The row of a key, and the page that shows it; nullopt for a key without a row.
struct RowPlace {
  WindowPage page;
  SettingRow row;
};
std::optional<RowPlace> FindRow(std::string_view key);

// The values of a choice key with the words a list shows for each.
struct ChoiceItem {
  std::string value;
  std::string label;
};
std::vector<ChoiceItem> ChoiceItems(const SettingKey& key);

// A colour key's text for a colour: "0xBBGGRR" when opaque, else "0xAABBGGRR" (upper-case
// hexadecimal digits, as the defaults are written).
std::string FormatSettingColour(const StyleColor& colour);

}  // namespace kavi::win
