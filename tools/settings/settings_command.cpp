// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/settings_command.h"

#include <functional>
#include <optional>

#include "config/config_files.h"
#include "config/language_tables.h"
#include "config/settings_lock.h"
#include "net/service_endpoints.h"
#include "tools/settings/endpoint_settings.h"
#include "tools/settings/setting_keys.h"
#include "tools/settings/settings_writer.h"
#include "tools/settings/theme_choices.h"

namespace kavi::win {

namespace {

constexpr char kUsage[] =
    "usage: KaviSettings [--config-dir DIR] [switch ...]\n"
    "  (no switch)              show every page\n"
    "  --page=NAME              show one page: input, appearance, sound, voice, translate,\n"
    "                           general, about, account\n"
    "  --list                   print every key as key=value\n"
    "  --get KEY                print the value of KEY\n"
    "  --set KEY=VALUE          change KEY (may be repeated; all or nothing); the keys\n"
    "                           service_base_url, companion_base_url and extra_ca_bundle\n"
    "                           go to endpoints.json (an empty value restores the default)\n"
    "  --toggle-traditional     switch the output between simplified and traditional\n"
    "  --toggle-melt-eng        switch mixed English input on or off\n"
    "  --toggle-key-sound       switch key sounds on or off\n"
    "  --set-voice-lang=CODE    choose the voice output language\n"
    "  --translate-popup=X,Y    the toolbar's translate button (needs the server's window)\n"
    "exit codes: 0 done, 1 files unreadable or unwritable, 2 invalid request (nothing changed),\n"
    "            3 the request needs the server's window\n";

using Edit = std::function<bool(ConfigRecord*, std::string*)>;

struct Request {
  std::filesystem::path directory;
  std::vector<Edit> edits;
  std::vector<std::string> gets;
  // Endpoint keys go to the endpoints file, not to the configuration pair.
  std::vector<std::pair<std::string, std::string>> endpoint_sets;
  std::optional<std::string> page;
  bool list = false;
  bool help = false;
  std::optional<std::string> translate_at;
};

Edit SetEdit(const SettingKey* key, std::string value) {
  return [key, value](ConfigRecord* record, std::string* message) {
    std::string reason;
    if (key->set(value, record, &reason)) return true;
    *message = std::string(key->name) + " " + reason + ", not \"" + value + "\"";
    return false;
  };
}

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
      request->edits.push_back([](ConfigRecord* r, std::string*) {
        r->engine.charset = r->engine.charset == EngineSettings::kSimplifiedCharset ? "zht" : "zhs";
        return true;
      });
    } else if (arg == "--toggle-melt-eng") {
      request->edits.push_back([](ConfigRecord* r, std::string*) {
        r->engine.melt_english = !r->engine.melt_english;
        return true;
      });
    } else if (arg == "--toggle-key-sound") {
      request->edits.push_back([](ConfigRecord* r, std::string*) {
        r->app.key_sound = !r->app.key_sound;
        return true;
      });
    } else if (StartsWith(arg, "--set-voice-lang=", &rest)) {
      request->edits.push_back(SetEdit(FindSettingKey("voice_output_language"), rest));
    } else if (StartsWith(arg, "--translate-popup=", &rest)) {
      if (!ValidPoint(rest)) {
        *message = "--translate-popup needs a screen point X,Y, not \"" + rest + "\"";
        return false;
      }
      request->translate_at = rest;
    } else if (StartsWith(arg, "--page=", &rest)) {
      request->page = rest;
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
        request->endpoint_sets.emplace_back(name, rest.substr(equals + 1));
        continue;
      }
      const SettingKey* key = FindSettingKey(name);
      if (key == nullptr) {
        *message = "unknown key \"" + name + "\" (--list shows every key)";
        return false;
      }
      request->edits.push_back(SetEdit(key, rest.substr(equals + 1)));
    } else if (arg.starts_with("--get")) {
      if (!value_of("--get", &rest)) {
        if (message->empty()) *message = "unknown switch " + arg;
        return false;
      }
      if (FindSettingKey(rest) == nullptr && !IsEndpointKey(rest)) {
        *message = "unknown key \"" + rest + "\" (--list shows every key)";
        return false;
      }
      request->gets.push_back(rest);
    } else {
      *message = "unknown switch " + arg;
      return false;
    }
  }
  if (request->translate_at &&
      (!request->edits.empty() || !request->endpoint_sets.empty() || !request->gets.empty() ||
       request->page || request->list)) {
    *message = "--translate-popup cannot be combined with other switches";
    return false;
  }
  return true;
}

bool KnownPage(std::string_view name) {
  if (name == "about" || name == "account") return true;
  for (const SettingsPage& page : SettingsPages()) {
    if (page.name == name) return true;
  }
  return false;
}

constexpr char kThemeKey[] = "theme";

ThemeChoices ThemeChoicesFor(const std::filesystem::path& config_directory) {
  return ThemeChoices(InstalledThemesDirectory(), UserThemesDirectory(config_directory));
}

void PrintPage(const SettingsPage& page, const ConfigRecord& record,
               const std::filesystem::path& directory, std::ostream& out) {
  out << "[" << page.name << "] " << page.title << "\n";
  for (const SettingKey& key : SettingKeys()) {
    if (key.page != page.name) continue;
    out << "  " << key.name << " = " << key.get(record) << "\n";
    const std::string allowed =
        key.name == kThemeKey ? ThemeChoicesFor(directory).Describe() : key.allowed();
    out << "      allowed: " << allowed << "\n";
  }
}

void PrintAbout(const ConfigRecord& record, const std::filesystem::path& directory,
                std::ostream& out) {
  out << "[about] 關於\n";
  out << "  KaviSettings " << KAVI_VERSION << "\n";
  out << "  configuration directory: " << directory.string() << "\n";
  out << "  config_version = " << record.engine.config_version << "\n";
}

void PrintAccount(std::ostream& out) {
  out << "[account] 帳號\n";
  out << "  The GateKite account is signed in and out from the server's toolbar menu;\n";
  out << "  the configuration files hold no account settings.\n";
}

void PrintNamedPage(std::string_view name, const ConfigRecord& record,
                    const std::filesystem::path& directory, std::ostream& out) {
  if (name == "about") return PrintAbout(record, directory, out);
  if (name == "account") return PrintAccount(out);
  for (const SettingsPage& page : SettingsPages()) {
    if (page.name == name) PrintPage(page, record, directory, out);
  }
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
        << "\" (pages: input, appearance, sound, voice, translate, general, about, account)\n";
    return kSettingsUsageError;
  }
  if (request.translate_at) {
    err << "KaviSettings: the translation popup at " << *request.translate_at
        << " is drawn by the server's candidate window; KaviSettings has no window to show it\n";
    return kSettingsNeedsServerWindow;
  }

  // A change reads, edits and writes under the lock; reading alone needs no lock and creates
  // nothing.
  SettingsLock lock;
  const bool changes = !request.edits.empty() || !request.endpoint_sets.empty();
  if (changes && !lock.Acquire(request.directory, &message)) {
    err << "KaviSettings: " << message << "\n";
    return kSettingsFileError;
  }
  ConfigRecord record;
  if (!server::LoadConfig(request.directory, &record, &message)) {
    err << "KaviSettings: cannot read the configuration in " << request.directory.string() << ": "
        << message << "\n";
    return kSettingsFileError;
  }

  // All or nothing: every endpoint value is checked before anything is written.
  for (const auto& [name, value] : request.endpoint_sets) {
    std::string reason;
    if (!CheckEndpointValue(name, value, &reason)) {
      err << "KaviSettings: " << name << " " << reason << ", not \"" << value << "\"\n";
      return kSettingsUsageError;
    }
  }
  if (!request.edits.empty()) {
    ConfigRecord edited = record;
    for (const Edit& edit : request.edits) {
      if (!edit(&edited, &message)) {
        err << "KaviSettings: " << message << "\n";
        return kSettingsUsageError;
      }
    }
    // The server cannot draw a theme that is not installed: it would fall back to "native"
    // silently. A theme left as it was is not checked again.
    std::string reason;
    if (edited.app.theme != record.app.theme &&
        !ThemeChoicesFor(request.directory).Check(edited.app.theme, &reason)) {
      err << "KaviSettings: " << kThemeKey << " " << reason << ", not \"" << edited.app.theme
          << "\"\n";
      return kSettingsUsageError;
    }
    if (!SaveSettings(request.directory, &edited, &message)) {
      err << "KaviSettings: " << message << "\n";
      return kSettingsFileError;
    }
    for (const SettingKey& key : SettingKeys()) {
      if (key.get(edited) != key.get(record)) out << key.name << "=" << key.get(edited) << "\n";
    }
    record = edited;
  }
  for (const auto& [name, value] : request.endpoint_sets) {
    if (!SetUserEndpoint(UserEndpointsFile(request.directory), name, value, &message)) {
      err << "KaviSettings: " << message << "\n";
      return kSettingsFileError;
    }
  }
  if (!request.endpoint_sets.empty()) {
    for (const auto& [name, value] : EndpointSettings(request.directory)) {
      for (const auto& set : request.endpoint_sets) {
        if (set.first == name) out << name << "=" << value << "\n";
      }
    }
  }

  const auto endpoints = EndpointSettings(request.directory);
  for (const std::string& name : request.gets) {
    if (IsEndpointKey(name)) {
      for (const auto& [key, value] : endpoints) {
        if (key == name) out << value << "\n";
      }
    } else {
      out << FindSettingKey(name)->get(record) << "\n";
    }
  }
  if (request.list) {
    for (const SettingKey& key : SettingKeys()) out << key.name << "=" << key.get(record) << "\n";
    for (const auto& [key, value] : endpoints) out << key << "=" << value << "\n";
  }
  if (request.page) PrintNamedPage(*request.page, record, request.directory, out);
  const bool nothing_asked =
      !changes && request.gets.empty() && !request.list && !request.page;
  if (nothing_asked) {
    for (const SettingsPage& page : SettingsPages())
      PrintPage(page, record, request.directory, out);
    PrintAbout(record, request.directory, out);
  }
  return kSettingsOk;
}

}  // namespace kavi::win
