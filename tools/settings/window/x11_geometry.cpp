// SPDX-License-Identifier: Apache-2.0
#include "tools/settings/window/x11_geometry.h"

#include <gdk/x11/gdkx.h>

namespace kavi::win {

namespace {

Display* XDisplayOf(GdkSurface* surface) {
  return gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
}

}  // namespace

std::optional<ScreenRect> WidgetScreenRect(GtkWidget* widget) {
  GtkNative* native = gtk_widget_get_native(widget);
  if (native == nullptr) return std::nullopt;
  GdkSurface* surface = gtk_native_get_surface(native);
  if (surface == nullptr || !GDK_IS_X11_SURFACE(surface)) return std::nullopt;
  graphene_rect_t bounds;
  if (!gtk_widget_compute_bounds(widget, GTK_WIDGET(native), &bounds)) return std::nullopt;
  double offset_x = 0, offset_y = 0;  // the client-side shadow around the window
  gtk_native_get_surface_transform(native, &offset_x, &offset_y);
  int root_x = 0, root_y = 0;
  Window child;
  Display* display = XDisplayOf(surface);
  if (!XTranslateCoordinates(display, gdk_x11_surface_get_xid(surface), DefaultRootWindow(display),
                             0, 0, &root_x, &root_y, &child))
    return std::nullopt;
  const int scale = gdk_surface_get_scale_factor(surface);
  const double left = (bounds.origin.x + offset_x) * scale + root_x;
  const double top = (bounds.origin.y + offset_y) * scale + root_y;
  return ScreenRect{static_cast<int32_t>(left), static_cast<int32_t>(top),
                    static_cast<int32_t>(left + bounds.size.width * scale),
                    static_cast<int32_t>(top + bounds.size.height * scale)};
}

ScreenRect MonitorAreaAt(GdkDisplay* display, int x, int y) {
  GListModel* monitors = gdk_display_get_monitors(display);
  ScreenRect area{0, 0, 1920, 1080};
  for (guint i = 0; i < g_list_model_get_n_items(monitors); ++i) {
    GdkMonitor* monitor = GDK_MONITOR(g_list_model_get_item(monitors, i));
    GdkRectangle geometry;
    if (GDK_IS_X11_MONITOR(monitor))
      gdk_x11_monitor_get_workarea(monitor, &geometry);
    else
      gdk_monitor_get_geometry(monitor, &geometry);
    const int scale = gdk_monitor_get_scale_factor(monitor);
    const ScreenRect rect{geometry.x * scale, geometry.y * scale,
                          (geometry.x + geometry.width) * scale,
                          (geometry.y + geometry.height) * scale};
    g_object_unref(monitor);
    if (i == 0 || (x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom))
      area = rect;
  }
  return area;
}

void PlaceWindowAt(GtkWindow* window, int x, int y) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  if (surface == nullptr || !GDK_IS_X11_SURFACE(surface)) return;
  Display* display = XDisplayOf(surface);
  const Window xid = gdk_x11_surface_get_xid(surface);
  // The position is the user's wish, so a window manager keeps it.
  XSizeHints hints{};
  long supplied = 0;
  XGetWMNormalHints(display, xid, &hints, &supplied);
  hints.flags |= USPosition | PPosition;
  hints.x = x;
  hints.y = y;
  XSetWMNormalHints(display, xid, &hints);
  XMoveWindow(display, xid, x, y);
  XFlush(display);
}

}  // namespace kavi::win
