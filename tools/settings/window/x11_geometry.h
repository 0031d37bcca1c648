// SPDX-License-Identifier: Apache-2.0
// Where on the screen a widget is, and putting a window at a point: GTK 4 leaves both to the
// display system, and on X11 they are what the candidate window's preview and the translation
// popup need.
#pragma once

#include <gtk/gtk.h>

#include <optional>

#include "protocol/pipe_records.h"

namespace kavi::win {

// The widget's rectangle in screen pixels; nullopt when the display has no screen coordinates
// (Wayland) or the widget is not shown.
std::optional<ScreenRect> WidgetScreenRect(GtkWidget* widget);

// The work area of the monitor at a screen point, in screen pixels.
ScreenRect MonitorAreaAt(GdkDisplay* display, int x, int y);

// Moves a shown or about to be shown window so that its top-left corner is at (x, y).
void PlaceWindowAt(GtkWindow* window, int x, int y);

}  // namespace kavi::win
