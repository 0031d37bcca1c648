// SPDX-License-Identifier: Apache-2.0
// The plug-in mode of one client session: the typed buffer, the page shown, paging and
// selection, and what each key does. Belongs to the client session's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "plugins/plugin_engine.h"
#include "plugins/plugin_types.h"
#include "protocol/keysyms.h"

namespace kavi::win {

// The second trigger, for pinyin-like schemes.
inline constexpr uint32_t kLetterVTrigger = 'v';

class PluginSession {
 public:
  static constexpr int kPageSize = 9;

  // `engine` may be null: the session then never enters plug-in mode. The provider supplies a
  // fresh context for every query.
  PluginSession(PluginEngine* engine, std::function<PluginContext()> context_provider);

  // Every operation returns whether the event was consumed and fills `result` when given.
  bool Enter(uint32_t key, bool v_trigger_enabled, PluginSessionResult* result);
  bool HandleKey(uint32_t key, bool refresh_only, bool enter_selects, PluginSessionResult* result);
  // Runs the query again, e.g. after a fetched 2FA list changed the context.
  bool Refresh(PluginSessionResult* result);
  bool Highlight(int index, PluginSessionResult* result);
  // Chooses item 0 to 8 of the current page.
  bool Choose(int index, PluginSessionResult* result);
  void Reset();

  bool active() const { return active_; }
  const std::string& buffer() const { return buffer_; }

  // True for scheme ids of pinyin-like schemes, where "v" also opens plug-in mode.
  static bool VTriggerEnabled(std::string_view scheme_id);

 private:
  void RunQuery();
  void Fill(PluginSessionResult* result) const;
  void Leave(PluginSessionResult* result);
  void CommitBufferAndLeave(PluginSessionResult* result);
  bool ChooseGlobal(size_t index, PluginSessionResult* result);
  int PageCount() const;
  int ItemsOnPage() const;
  void ResetPaging();

  PluginEngine* const engine_;
  const std::function<PluginContext()> context_provider_;
  bool active_ = false;
  std::string buffer_;
  PluginPage page_;
  int page_index_ = 0;
  int selection_ = 0;
};

// A random (version 4) UUID in its 36-character lower-case hyphenated form.
std::string MakeUuidText();

}  // namespace kavi::win
