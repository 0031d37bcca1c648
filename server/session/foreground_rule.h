// SPDX-License-Identifier: Apache-2.0
// Whether a client is the application the user is typing into.
//
// An ordinary client passes when it owns the active window (or descends from its owner: a
// terminal running a console client); the window check is the platform's.
//
// An input-method framework's bridge (ibus-engine-kavi) is a process that no window belongs
// to: the framework starts it and routes every application's keys through it. It passes while
// one of its input contexts has the focus: its FocusIn is the framework saying that a text
// field got the focus, it holds until its FocusOut, and only while it still owns the
// composition (a later client's FocusIn takes the focus away). What keeps a background
// process of the same user out is that the bridge is recognised by its executable, never by
// anything the client says: only a process running the installed bridge program, beside this
// server's own, and not under a tracer, is treated as one. Any other process, whatever it
// sends, is held to the window check.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

namespace kavi::win {

// The bridge programs installed beside the server.
inline constexpr const char* kFrameworkBridgePrograms[] = {"ibus-engine-kavi"};

// True when a process whose executable is `executable` (nullopt: unreadable) is one of the
// bridges installed in `program_folder`. A traced process may be run by anyone's code.
bool IsFrameworkBridge(const std::optional<std::filesystem::path>& executable, bool traced,
                       const std::filesystem::path& program_folder);

class ForegroundRule {
 public:
  explicit ForegroundRule(bool framework_bridge) : framework_bridge_(framework_bridge) {}

  bool framework_bridge() const { return framework_bridge_; }

  // A FocusIn request.
  bool PassesFocusIn(const std::function<bool()>& owns_active_window) const;
  // Any other request; `owns_composition` is whether this session is the focus owner.
  bool Passes(bool owns_composition, const std::function<bool()>& owns_active_window) const;

  void FocusGained() { focused_ = true; }
  void FocusLost() { focused_ = false; }

 private:
  const bool framework_bridge_;
  bool focused_ = false;
};

}  // namespace kavi::win
