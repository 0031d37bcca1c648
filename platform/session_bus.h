// SPDX-License-Identifier: Apache-2.0
// Whether this session has a D-Bus session bus to talk to. Without one, GIO and the toolkits
// would start a private bus daemon of their own (X11 autolaunch), which then outlives the
// server; Kavi then does without the bus instead.
#pragma once

namespace kavi::win {

// DBUS_SESSION_BUS_ADDRESS is set, or $XDG_RUNTIME_DIR/bus is a socket.
bool SessionBusReachable();

// Without a session bus, keeps GTK's accessibility bridge from starting one. Call while the
// process has a single thread (it changes the environment).
void KeepToolkitsOffAbsentSessionBus();

}  // namespace kavi::win
