// SPDX-License-Identifier: Apache-2.0
// What the server hands the tray: the toolbar actions over the server's shared state, and the
// displayed settings from the configuration.
#pragma once

#include <string>

#include "config/config_record.h"
#include "server/app/server_directories.h"
#include "server/session/session_services.h"
#include "shell/toolbar_actions.h"
#include "shell/tray_icon.h"

namespace kavi::win::server {

// The actions of the toolbar and its menu: the settings application beside the server for
// most; the input-mode toggle posted to the client that owns the focus.
ToolbarActions MakeServerToolbarActions(ServerShared* shared, SessionServices* services,
                                        const ServerDirectories& dirs);

TrayDisplaySettings TrayDisplaySettingsFrom(const ConfigRecord& config,
                                            const ServerDirectories& dirs);

// The display name of a scheme ("全拼" for base_pinyin): the name in its scheme file, else
// its id.
std::string SchemeDisplayName(const ServerDirectories& dirs, const std::string& scheme_id);

}  // namespace kavi::win::server
