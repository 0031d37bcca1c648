// SPDX-License-Identifier: Apache-2.0
// Small pieces every part of the settings window uses: running model callbacks on GTK's main
// loop (and not after the window is gone), and the rows that tell a state instead of offering a
// control.
#pragma once

#include <adwaita.h>

#include <functional>
#include <memory>
#include <string>

#include "tools/settings/job_watch.h"
#include "tools/settings/server_link.h"

namespace kavi::win {

// Cleared when the window it belongs to is being destroyed: callbacks still on their way then
// do nothing.
using AliveToken = std::shared_ptr<bool>;

ServerLink::Post MainLoopPost(AliveToken alive);
JobWatch::Schedule MainLoopSchedule(AliveToken alive);

// Connects a std::function to a signal; it lives as long as the connection. Returns the
// handler's id, for signals of objects that outlive the handler's owner.
gulong ConnectSignal(gpointer instance, const char* signal, std::function<void()> handler);

// An icon and two lines: what a section shows when its service cannot be used.
GtkWidget* StateRow(const std::string& title, const std::string& subtitle,
                    const char* icon_name = "dialog-information-symbolic");

// A button of the GNOME style: a text (or an icon) and an optional style class.
GtkWidget* RowButton(const char* label, const char* style_class = nullptr);

void SetSubtitle(GtkWidget* action_row, const std::string& text);

}  // namespace kavi::win
