// SPDX-License-Identifier: Apache-2.0
// The IBus engine type: one engine object per input context, each bridged to the server
// through the front-end library over the process's one connection.
#pragma once

#include <ibus.h>

#include "frontend/input_context.h"

namespace kavi::win {

inline constexpr char kIbusEngineName[] = "kavi";
inline constexpr char kIbusBusName[] = "org.freedesktop.IBus.Kavi";

struct IbusEngineOptions {
  // Candidates in IBus's own lookup table as well, for desktops where Kavi's candidate
  // window cannot show (no X display, Wayland).
  bool ibus_panel = false;
};

// Must be called once, before the factory makes an engine.
void SetIbusEngineConnection(FrontendConnection* connection, IbusEngineOptions options);
GType KaviEngineGetType();

}  // namespace kavi::win
