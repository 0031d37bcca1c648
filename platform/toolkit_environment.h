// SPDX-License-Identifier: Apache-2.0
// Environment settings for the GUI toolkit the server's tray runs on.
#pragma once

namespace kavi::win {

// The tray and toolbar draw with Cairo and never use OpenGL, yet GDK probes the display's GL
// support when it opens it, which on a software renderer loads Mesa and LLVM: tens of
// milliseconds of CPU at start-up, taken from the engine's dictionary load. Turns the probe off
// unless the user set GDK_GL. Call while the process has a single thread (it changes the
// environment).
void KeepToolkitsOffOpenGl();

}  // namespace kavi::win
