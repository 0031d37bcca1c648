// SPDX-License-Identifier: Apache-2.0
// The values that travel between the plug-in engine, the plug-in session and the client session.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/two_factor_entry.h"

namespace kavi::win {

enum class PluginItemKind : uint32_t {
  Commit = 0,              // leave plug-in mode and commit the text
  Info = 1,                // nothing happens
  OpenCategory = 2,        // the buffer becomes trigger + "fh" + payload
  TranslateClipboard = 3,  // leave and report the action
  RequestCode = 4,         // leave and report the action
  LoadTwoFactor = 5,       // stay and report the action
};

struct PluginItem {
  std::string text;
  std::string comment;
  uint32_t kind = static_cast<uint32_t>(PluginItemKind::Commit);
  std::string payload;
};

struct PluginPage {
  std::vector<PluginItem> items;
  bool digits_as_input = false;
  bool two_factor_page = false;
  bool auto_action = false;
};

struct PluginContext {
  int64_t now = 0;  // seconds since 1970; 0 reads the clock
  std::string uuid;
  bool prefer_traditional = false;
  bool full_components = false;
  bool gk_paired = false;
  bool gk_list_ready = false;
  std::vector<TwoFactorEntry> two_factor_entries;
  // Traditional to Simplified for the user whose output is simplified; empty when it is
  // Traditional. Called during the query, under whatever the caller holds.
  std::function<std::string(const std::string&)> to_simplified;
};

struct PluginSessionResult {
  bool active = false;
  bool handled = false;
  bool commit = false;
  std::string commit_text;
  bool has_action = false;
  uint32_t action_kind = 0;
  std::string action_payload;
  std::string preedit;
  std::vector<PluginItem> items;  // the current page only
  uint32_t page_index = 0;
  uint32_t page_count = 0;
  uint32_t selection = 0;
  bool last_page = true;
};

struct PluginAsyncResult {
  uint32_t status = 0;  // the service operation's return value; 0 when the job did not start
  std::string result_text;
  std::string error_text;
};

// Builds an item of kind Commit.
inline PluginItem CommitItem(std::string text, std::string comment = {}) {
  return PluginItem{
      std::move(text), std::move(comment), static_cast<uint32_t>(PluginItemKind::Commit), {}};
}

}  // namespace kavi::win
