// SPDX-License-Identifier: Apache-2.0
// Turns the configuration into engine calls and into the settings the sessions read.
#pragma once

#include "config/config_record.h"
#include "server/session/live_settings.h"

namespace kavi::win {

// The engine calls for a configuration: page size, charset, layout, options, schemes. The
// caller holds the engine lock.
void ApplyEngineSettings(const ConfigRecord& config);

// The values client sessions read on every request.
SessionSettings SessionSettingsFrom(const ConfigRecord& config);

}  // namespace kavi::win
