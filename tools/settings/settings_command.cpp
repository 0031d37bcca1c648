// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/settings_command.h"

#include <optional>

#include "config/config_files.h"
#include "tools/settings/endpoint_settings.h"
#include "tools/settings/pinyin_settings.h"
#include "tools/settings/setting_keys.h"
#include "tools/settings/settings_store.h"
#include "tools/settings/theme_choices.h"
#include "tools/settings/user_data_files.h"
#include "tools/settings/window_pages.h"

namespace kavi::win {

namespace {

constexpr char kUsage[] =
    "usage: KaviSettings [--config-dir DIR] [switch ...]\n"
    "  (no switch)              open the settings window; without a display, print every page\n"
    "  --page=NAME              open the window at a page (without a display, print it):\n"
    "                           input, appearance, voice, account, dictionary, packs, network,\n"
    "                           about, and sound, translate, general\n"
    "  --key=KEY                as --page, at the page that holds KEY, with KEY's control focused\n"
    "  --list                   print every key as key=value\n"
    "  --get KEY                print the value of KEY\n"
    "  --set KEY=VALUE          change KEY (may be repeated; all or nothing); the keys\n"
    "                           service_base_url, companion_base_url, extra_ca_bundle,\n"
    "                           companion_box_public_key and companion_sign_public_key go\n"
    "                           to endpoints.json (an empty value restores the default);\n"
    "                           fuzzy (fuzzy sounds, e.g. fuzzy=zh_z,an_ang) goes to\n"
    "                           pinyin.custom.yaml\n"
    "  --toggle-traditional     switch the output between simplified and traditional\n"
    "  --toggle-melt-eng        switch mixed English input on or off\n"
    "  --toggle-key-sound       switch key sounds on or off\n"
    "  --set-voice-lang=CODE    choose the voice output language\n"
    "  --translate-popup=X,Y    translate the clipboard in a popup at that point (needs a "
    "display)\n"
    "exit codes: 0 done, 1 files unreadable or unwritable, 2 invalid request (nothing changed),\n"
    "            3 the request needs a display\n";

struct Request {
  std::filesystem::path directory;
  // Endpoint keys go to the endpoints file, not to the configuration pair.
  SettingsChange change;
  std::vector<std::string> gets;
  std::optional<std::string> page;
  std::optional<std::string> key;
  bool list = false;
  bool help = false;
  std::optional<std::string> translate_at;
};

// Splits "X,Y" into two decimal integers.
bool ValidPoint(std::string_view text) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) return false;
  auto integer = [](std::string_view part) {
    if (!part.empty() && part[0] == '-') part.remove_prefix(1);
    if (part.empty() || part.size() > 10) return false;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
    }
    return true;
  };
  return integer(text.substr(0, comma)) && integer(text.substr(comma + 1));
}

bool StartsWith(std::string_view text, std::string_view prefix, std::string* rest) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  *rest = std::string(text.substr(prefix.size()));
  return true;
}

bool ParseRequest(const std::vector<std::string>& args, Request* request, std::string* message) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string rest;
    // A switch that takes its value as the next argument or after '='.
    auto value_of = [&](std::string_view name, std::string* value) {
      if (arg == name) {
        if (i + 1 >= args.size()) {
          *message = std::string(name) + " needs a value";
          return false;
        }
        *value = args[++i];
        return true;
      }
      return StartsWith(arg, std::string(name) + "=", value);
    };
    if (arg == "--help" || arg == "-h") {
      request->help = true;
    } else if (arg == "--toggle-traditional") {
      request->change.edits.push_back(ToggleTraditionalEdit());
    } else if (arg == "--toggle-melt-eng") {
      request->change.edits.push_back(ToggleMixedEnglishEdit());
    } else if (arg == "--toggle-key-sound") {
      request->change.edits.push_back(ToggleKeySoundEdit());
    } else if (StartsWith(arg, "--set-voice-lang=", &rest)) {
      request->change.edits.push_back(SetKeyEdit(*FindSettingKey("voice_output_language"), rest));
    } else if (StartsWith(arg, "--translate-popup=", &rest)) {
      if (!ValidPoint(rest)) {
        *message = "--translate-popup needs a screen point X,Y, not \"" + rest + "\"";
        return false;
      }
      request->translate_at = rest;
    } else if (StartsWith(arg, "--page=", &rest)) {
      request->page = rest;
    } else if (StartsWith(arg, "--key=", &rest)) {
      if (!FindRow(rest)) {
        *message = "unknown key \"" + rest + "\" (--list shows every key)";
        return false;
      }
      request->key = rest;
    } else if (arg == "--list") {
      request->list = true;
    } else if (arg.starts_with("--config-dir")) {
      if (!value_of("--config-dir", &rest)) {
        if (message->empty()) *message = "unknown switch " + arg;
        return false;
      }
      request->directory = rest;
    } else if (arg.starts_with("--set")) {
      if (!value_of("--set", &rest)) {
        if (message->empty()) *message = "unknown switch " + arg;
        return false;
      }
      const size_t equals = rest.find('=');
      if (equals == std::string::npos) {
        *message = "--set needs KEY=VALUE, not \"" + rest + "\"";
        return false;
      }
      const std::string name = rest.substr(0, equals);
      if (IsEndpointKey(name)) {
        request->change.endpoints.emplace_back(name, rest.substr(equals + 1));
        continue;
      }
      if (name == kFuzzyKey) {
        request->change.fuzzy = rest.substr(equals + 1);
        continue;
      }
      const SettingKey* key = FindSettingKey(name);
      if (key == nullptr) {
        *message = "unknown key \"" + name + "\" (--list shows every key)";
        return false;
      }
      request->change.edits.push_back(SetKeyEdit(*key, rest.substr(equals + 1)));
    } else if (arg.starts_with("--get")) {
      if (!value_of("--get", &rest)) {
        if (message->empty()) *message = "unknown switch " + arg;
        return false;
      }
      if (FindSettingKey(rest) == nullptr && !IsEndpointKey(rest) && rest != kFuzzyKey) {
        *message = "unknown key \"" + rest + "\" (--list shows every key)";
        return false;
      }
      request->gets.push_back(rest);
    } else {
      *message = "unknown switch " + arg;
      return false;
    }
  }
  if (request->translate_at && (!request->change.empty() || !request->gets.empty() ||
                                request->page || request->key || request->list)) {
    *message = "--translate-popup cannot be combined with other switches";
    return false;
  }
  return true;
}

bool KnownPage(std::string_view name) {
  return WindowPageNamed(name).has_value();
}

constexpr char kThemeKey[] = "theme";

ThemeChoices ThemeChoicesFor(const std::filesystem::path& config_directory) {
  return ThemeChoices(InstalledThemesDirectory(), UserThemesDirectory(config_directory));
}

void PrintFuzzy(const UserPinyinOptions& pinyin, std::ostream& out) {
  out << "  " << kFuzzyKey << " = " << FuzzyText(pinyin) << "\n";
  out << "      allowed: " << AllowedFuzzy() << "\n";
}

void PrintPage(const SettingsPage& page, const ConfigRecord& record,
               const UserPinyinOptions& pinyin, const std::filesystem::path& directory,
               std::ostream& out) {
  out << "[" << page.name << "] " << page.title << "\n";
  for (const SettingKey& key : SettingKeys()) {
    if (key.page != page.name) continue;
    out << "  " << key.name << " = " << key.get(record) << "\n";
    const std::string allowed =
        key.name == kThemeKey ? ThemeChoicesFor(directory).Describe() : key.allowed();
    out << "      allowed: " << allowed << "\n";
  }
  if (page.name == kFuzzyPage) PrintFuzzy(pinyin, out);
}

void PrintAbout(const ConfigRecord& record, const std::filesystem::path& directory,
                std::ostream& out) {
  out << "[about] 關於\n";
  out << "  KaviSettings " << KAVI_VERSION << "\n";
  out << "  configuration directory: " << directory.string() << "\n";
  out << "  config_version = " << record.engine.config_version << "\n";
  std::string problem;
  const std::optional<PendingUpdate> update = ReadPendingUpdate(UpdatesFolder(), &problem);
  if (!update) return;
  out << "  update " << update->version << " (build " << update->build
      << ") is downloaded and verified: " << update->package.string() << "\n";
  if (!IsNewerVersion(update->version, KAVI_VERSION)) {
    out << "  it is not newer than the running " << KAVI_VERSION << "\n";
    return;
  }
  out << "  it is newer than the running " << KAVI_VERSION << "; install it with:\n   ";
  for (const std::string& part : InstallUpdateCommand(*update)) out << " " << part;
  out << "\n";
}

void PrintAccount(std::ostream& out) {
  out << "[account] 帳號\n";
  out << "  The GateKite account is paired and unpaired on the settings window's account page;\n";
  out << "  the configuration files hold no account settings.\n";
}

void PrintKey(std::string_view name, const ConfigRecord& record, const UserPinyinOptions& pinyin,
              const std::filesystem::path& directory, std::ostream& out) {
  if (name == kFuzzyKey) return PrintFuzzy(pinyin, out);
  if (IsEndpointKey(name)) {
    for (const auto& [key, value] : EndpointSettings(directory)) {
      if (key == name) out << "  " << key << " = " << value << "\n";
    }
    return;
  }
  const SettingKey* key = FindSettingKey(name);
  out << "  " << key->name << " = " << key->get(record) << "\n";
  const std::string allowed =
      key->name == kThemeKey ? ThemeChoicesFor(directory).Describe() : key->allowed();
  out << "      allowed: " << allowed << "\n";
}

// A page only the window has: the keys it shows, and what needs the window.
void PrintWindowPage(WindowPage page, const ConfigRecord& record,
                     const UserPinyinOptions& pinyin, const std::filesystem::path& directory,
                     std::ostream& out) {
  const WindowPageInfo& info = PageInfo(page);
  out << "[" << info.name << "] " << info.title << "\n";
  bool keys = false;
  for (const PageSection& section : PageSections(page)) {
    for (const SettingRow& row : section.rows) {
      PrintKey(row.key, record, pinyin, directory, out);
      keys = true;
    }
  }
  if (page == WindowPage::kDictionary) {
    const std::filesystem::path folder = BackupsFolder(directory);
    out << "  backups folder: " << folder.string() << "\n";
    for (const DictionaryBackup& backup : ListBackups(folder)) {
      out << "    " << backup.name << "  " << backup.when << "  " << backup.dictionaries
          << " dictionaries\n";
    }
  }
  if (!keys) out << "  Its actions are in the settings window (KaviSettings on a display).\n";
}

void PrintNamedPage(std::string_view name, const ConfigRecord& record,
                    const UserPinyinOptions& pinyin, const std::filesystem::path& directory,
                    std::ostream& out) {
  if (name == "about") return PrintAbout(record, directory, out);
  if (name == "account") return PrintAccount(out);
  for (const SettingsPage& page : SettingsPages()) {
    if (page.name == name) return PrintPage(page, record, pinyin, directory, out);
  }
  if (const std::optional<WindowPage> page = WindowPageNamed(name))
    PrintWindowPage(*page, record, pinyin, directory, out);
}

}  // namespace

int RunSettingsCommand(const std::vector<std::string>& args,
                       const std::filesystem::path& default_directory, std::ostream& out,
                       std::ostream& err) {
  Request request;
  request.directory = default_directory;
  std::string message;
  if (!ParseRequest(args, &request, &message)) {
    err << "KaviSettings: " << message << "\n" << kUsage;
    return kSettingsUsageError;
  }
  if (request.help) {
    out << kUsage;
    return kSettingsOk;
  }
  if (request.page && !KnownPage(*request.page)) {
    err << "KaviSettings: unknown page \"" << *request.page
        << "\" (pages: input, appearance, voice, account, dictionary, packs, network, about, "
           "sound, translate, general)\n";
    return kSettingsUsageError;
  }
  if (request.translate_at) {
    err << "KaviSettings: the translation popup at " << *request.translate_at
        << " needs a display\n";
    return kSettingsNeedsDisplay;
  }

  const SettingsStore store(request.directory);
  const bool changes = !request.change.empty();
  ConfigRecord record;
  if (changes) {
    const ApplyOutcome outcome = store.Apply(request.change);
    for (const auto& [name, value] : outcome.changed) out << name << "=" << value << "\n";
    if (!outcome.ok()) {
      err << "KaviSettings: " << outcome.message << "\n";
      return outcome.status == ApplyOutcome::Status::kRefused ? kSettingsUsageError
                                                              : kSettingsFileError;
    }
    record = outcome.record;
  } else if (!store.Load(&record, &message)) {
    // Reading alone needs no lock and creates nothing.
    err << "KaviSettings: cannot read the configuration in " << request.directory.string() << ": "
        << message << "\n";
    return kSettingsFileError;
  }

  const auto endpoints = EndpointSettings(request.directory);
  std::string pinyin_problem;
  const UserPinyinOptions pinyin = store.PinyinOptions(&pinyin_problem);
  if (!pinyin_problem.empty()) err << "KaviSettings: " << pinyin_problem << " (not used)\n";
  for (const std::string& name : request.gets) {
    if (IsEndpointKey(name)) {
      for (const auto& [key, value] : endpoints) {
        if (key == name) out << value << "\n";
      }
    } else if (name == kFuzzyKey) {
      out << FuzzyText(pinyin) << "\n";
    } else {
      out << FindSettingKey(name)->get(record) << "\n";
    }
  }
  if (request.list) {
    for (const SettingKey& key : SettingKeys()) out << key.name << "=" << key.get(record) << "\n";
    for (const auto& [key, value] : endpoints) out << key << "=" << value << "\n";
    out << kFuzzyKey << "=" << FuzzyText(pinyin) << "\n";
  }
  if (request.page) PrintNamedPage(*request.page, record, pinyin, request.directory, out);
  if (request.key) PrintKey(*request.key, record, pinyin, request.directory, out);
  const bool nothing_asked =
      !changes && request.gets.empty() && !request.list && !request.page && !request.key;
  if (nothing_asked) {
    for (const SettingsPage& page : SettingsPages())
      PrintPage(page, record, pinyin, request.directory, out);
    PrintAbout(record, request.directory, out);
  }
  return kSettingsOk;
}

}  // namespace kavi::win
