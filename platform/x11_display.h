// SPDX-License-Identifier: Apache-2.0
// Small XCB helpers shared by the code that asks the X display about windows.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>

namespace kavi::win {

// Whether the environment names an X display (DISPLAY set and not empty). Without one no
// connection can ever succeed, so there is nothing to retry.
bool XDisplayNamed();

// Connects to $DISPLAY and finds the root window of its screen. Null (nothing left open) when
// DISPLAY is unset or the display cannot be reached.
xcb_connection_t* ConnectToDisplay(xcb_window_t* root);

// The atom of `name`, or XCB_ATOM_NONE.
xcb_atom_t InternAtom(xcb_connection_t* c, const char* name);

// Reads a single 32-bit value of a window property of `type`; false when absent.
bool ReadProperty32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                    uint32_t* value);

}  // namespace kavi::win
