// SPDX-License-Identifier: Apache-2.0
// The backtick command engine: turns the text typed after the trigger into a page of items.
// One per process, shared by every client session; queries run one at a time.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "plugins/component_table.h"
#include "plugins/emoji_table.h"
#include "plugins/lunar_calendar.h"
#include "plugins/plugin_types.h"
#include "plugins/symbol_table.h"

namespace kavi::win {

class PluginEngine {
 public:
  // Receives each log line without its line break; the default writes to stderr.
  using LogSink = std::function<void(std::string_view line)>;

  // Nothing is read until a command needs its data file.
  explicit PluginEngine(std::filesystem::path plugin_dir, LogSink log = nullptr);

  PluginEngine(const PluginEngine&) = delete;
  PluginEngine& operator=(const PluginEngine&) = delete;

  // `query` is the buffer without its trigger character. An empty page means that the command
  // does not apply or found nothing.
  PluginPage Query(std::string_view query, const PluginContext& context);

  // The four lines shown for the bare trigger and for incomplete commands.
  static PluginPage HelpPage();

 private:
  PluginPage Dispatch(std::string_view query, const PluginContext& context);
  PluginPage EmojiPage(std::string_view query);
  PluginPage SymbolPage(std::string_view argument);
  PluginPage ComponentPage(std::string_view argument, bool full);
  PluginPage LunarPage(std::string_view query, int64_t now);

  // Reads a data file whole; logs `cannot_open` when it cannot be opened and `invalid` when
  // reading fails.
  bool ReadFile(const char* name, std::string_view cannot_open, std::string_view invalid,
                std::string* text);
  void Log(std::string_view line);

  const std::filesystem::path plugin_dir_;
  const LogSink log_;
  std::mutex mutex_;
  std::optional<EmojiTable> emoji_;
  std::optional<SymbolTable> symbols_;
  std::optional<ComponentTable> components_;
  bool components_full_ = false;
  std::optional<PinyinLookup> pinyin_;
  std::optional<LunarTable> lunar_;
};

// The translation shortcut's target language code for a lower-cased query, empty when the
// query names none.
std::string TranslationTarget(std::string_view query, bool prefer_traditional);

// The 2FA pages: not paired, loading, or the entries whose name and account hold every byte of
// `filter`.
PluginPage TwoFactorPage(std::string_view filter, const PluginContext& context);

}  // namespace kavi::win
