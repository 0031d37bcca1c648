// SPDX-License-Identifier: Apache-2.0
// What the actions of plug-in items do (clipboard translation, the 2FA list, a TOTP code). The
// client session runs them on a worker of its own and collects the PluginAsyncResult.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "plugins/plugin_types.h"

namespace kavi::win {

// The services an action calls. An empty function means the service is missing. Each returns
// the service operation's success and fills its outputs; cancellation is the caller's to bind.
struct PluginActionServices {
  std::function<std::string()> read_clipboard;
  std::function<bool(const std::string& text, const std::string& target, std::string* translation,
                     std::string* error)>
      translate;
  std::function<bool(std::string* error)> fetch_two_factor;
  std::function<bool(const std::string& entry_id, std::string* code, std::string* error)>
      request_code;
};

// Runs the action of an item kind (TranslateClipboard, LoadTwoFactor, RequestCode) with its
// payload, blocking until the service answers. Other kinds give status 0 and no texts.
PluginAsyncResult RunPluginAction(uint32_t kind, const std::string& payload,
                                  const PluginActionServices& services);

}  // namespace kavi::win
