#include "platform/window/popup_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace kavi::win {

namespace {

constexpr double kDefaultDpi = 96;
constexpr char kWindowClass[] = "kavi-candidate";
constexpr char kNoticeFontFamily[] = "Noto Sans CJK TC";
constexpr double kNoticeFontSize = 13;

// A request on a window that just went away must not end the server: Xlib's default handler
// exits the process.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

// Nor may a lost connection: the default I/O error handler prints and the default exit handler
// ends the process. This one returns; the display's exit handler below records the loss.
int IgnoreXIOError(Display*) {
  return 0;
}

void InstallErrorHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(IgnoreXError);
    XSetIOErrorHandler(IgnoreXIOError);
  });
}

std::vector<long> CardinalProperty(Display* display, Window window, Atom property) {
  std::vector<long> values;
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1024, False, XA_CARDINAL, &type, &format,
                         &count, &remaining, &data) == Success &&
      data) {
    if (type == XA_CARDINAL && format == 32) {
      const long* items = reinterpret_cast<const long*>(data);
      values.assign(items, items + count);
    }
    XFree(data);
  }
  return values;
}

std::string StringProperty(Display* display, Window window, Atom property) {
  std::string value;
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1 << 20, False, AnyPropertyType, &type,
                         &format, &count, &remaining, &data) == Success &&
      data) {
    if (format == 8) value.assign(reinterpret_cast<const char*>(data), count);
    XFree(data);
  }
  return value;
}

ScreenArea Intersect(const ScreenArea& a, const ScreenArea& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

long long Area(const ScreenArea& a) {
  if (a.right <= a.left || a.bottom <= a.top) return 0;
  return static_cast<long long>(a.right - a.left) * (a.bottom - a.top);
}

long long DistanceSquared(const ScreenArea& area, int x, int y) {
  const long long dx = x < area.left ? area.left - x : x > area.right ? x - area.right : 0;
  const long long dy = y < area.top ? area.top - y : y > area.bottom ? y - area.bottom : 0;
  return dx * dx + dy * dy;
}

}  // namespace

struct PopupWindow::State {
  Display* display = nullptr;
  int screen = 0;
  Window root = 0;
  Window window = 0;
  Visual* visual = nullptr;
  int depth = 0;
  Colormap colormap = 0;
  GC gc = nullptr;
  Atom resource_manager = None;
  Atom net_workarea = None;
  Atom net_current_desktop = None;
  int width = 1;
  int height = 1;
  bool mapped = false;
  bool has_shape = false;
  // Set by Xlib (on whichever call found the connection broken) and read by the owner's thread,
  // which is the only thread that calls into this display.
  bool lost = false;

  ~State() {
    if (display) {
      if (gc) XFreeGC(display, gc);
      if (window) XDestroyWindow(display, window);
      if (colormap) XFreeColormap(display, colormap);
      XCloseDisplay(display);
    }
  }
};

PopupWindow::PopupWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}
PopupWindow::~PopupWindow() = default;

std::unique_ptr<PopupWindow> PopupWindow::Create(const std::string& display_name, bool* no_display,
                                                 std::string* message) {
  InstallErrorHandlers();
  auto state = std::make_unique<State>();
  state->display = XOpenDisplay(display_name.empty() ? nullptr : display_name.c_str());
  *no_display = state->display == nullptr;
  if (!state->display) {
    if (message) *message = "cannot open the X display";
    return nullptr;
  }
  Display* display = state->display;
  // Returning from here leaves the display marked broken instead of ending the process.
  XSetIOErrorExitHandler(
      display, [](Display*, void* data) { static_cast<State*>(data)->lost = true; }, state.get());
  state->screen = DefaultScreen(display);
  state->root = RootWindow(display, state->screen);

  XVisualInfo info{};
  if (XMatchVisualInfo(display, state->screen, 32, TrueColor, &info)) {
    state->visual = info.visual;
    state->depth = info.depth;
  } else {
    state->visual = DefaultVisual(display, state->screen);
    state->depth = DefaultDepth(display, state->screen);
  }
  state->colormap = XCreateColormap(display, state->root, state->visual, AllocNone);

  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.colormap = state->colormap;
  attributes.border_pixel = 0;
  attributes.background_pixel = 0;
  attributes.event_mask = ExposureMask | PointerMotionMask | ButtonPressMask | ButtonReleaseMask;
  state->window = XCreateWindow(
      display, state->root, 0, 0, 1, 1, 0, state->depth, InputOutput, state->visual,
      CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel | CWEventMask, &attributes);
  if (!state->window) {
    if (message) *message = "cannot create the window";
    return nullptr;
  }

  state->gc = XCreateGC(display, state->window, 0, nullptr);

  // Never take the keyboard focus away from the application being typed into.
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = False;
  XSetWMHints(display, state->window, &hints);
  XClassHint class_hint{const_cast<char*>(kWindowClass), const_cast<char*>(kWindowClass)};
  XSetClassHint(display, state->window, &class_hint);
  Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  Atom popup = XInternAtom(display, "_NET_WM_WINDOW_TYPE_POPUP_MENU", False);
  XChangeProperty(display, state->window, type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&popup), 1);
  long pid = static_cast<long>(getpid());
  XChangeProperty(display, state->window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL,
                  32, PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);

  state->resource_manager = XInternAtom(display, "RESOURCE_MANAGER", False);
  state->net_workarea = XInternAtom(display, "_NET_WORKAREA", False);
  state->net_current_desktop = XInternAtom(display, "_NET_CURRENT_DESKTOP", False);
  // Xft.dpi changes arrive as a new RESOURCE_MANAGER string on the root window.
  XSelectInput(display, state->root, PropertyChangeMask);
  int shape_event = 0;
  int shape_error = 0;
  state->has_shape = XShapeQueryExtension(display, &shape_event, &shape_error);
  XFlush(display);
  if (message) message->clear();
  return std::unique_ptr<PopupWindow>(new PopupWindow(std::move(state)));
}

int PopupWindow::ConnectionFd() const {
  return ConnectionNumber(state_->display);
}

unsigned long PopupWindow::WindowId() const {
  return state_->window;
}

bool PopupWindow::Lost() const {
  return state_->lost;
}

double PopupWindow::Dpi() const {
  const std::string resources =
      StringProperty(state_->display, state_->root, state_->resource_manager);
  constexpr std::string_view kKey = "Xft.dpi:";
  size_t at = 0;
  while ((at = resources.find(kKey, at)) != std::string::npos) {
    if (at == 0 || resources[at - 1] == '\n') {
      const double dpi = std::strtod(resources.c_str() + at + kKey.size(), nullptr);
      if (std::isfinite(dpi) && dpi > 0) return dpi;
    }
    at += kKey.size();
  }
  return kDefaultDpi;
}

ScreenArea PopupWindow::WorkAreaNear(const ScreenArea& anchor) const {
  Display* display = state_->display;
  ScreenArea best{0, 0, DisplayWidth(display, state_->screen),
                  DisplayHeight(display, state_->screen)};
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(display, state_->root, True, &count);
  if (monitors) {
    long long best_overlap = -1;
    long long best_distance = LLONG_MAX;
    const int cx = anchor.left + (anchor.right - anchor.left) / 2;
    const int cy = anchor.top + (anchor.bottom - anchor.top) / 2;
    for (int i = 0; i < count; ++i) {
      const ScreenArea area{monitors[i].x, monitors[i].y, monitors[i].x + monitors[i].width,
                            monitors[i].y + monitors[i].height};
      const long long overlap = Area(Intersect(area, anchor));
      const long long distance = DistanceSquared(area, cx, cy);
      if (overlap > best_overlap || (overlap == best_overlap && distance < best_distance)) {
        best = area;
        best_overlap = overlap;
        best_distance = distance;
      }
    }
    XRRFreeMonitors(monitors);
  }
  const std::vector<long> workareas = CardinalProperty(display, state_->root, state_->net_workarea);
  const std::vector<long> desktop =
      CardinalProperty(display, state_->root, state_->net_current_desktop);
  const size_t index = desktop.empty() ? 0 : static_cast<size_t>(desktop[0]);
  if (workareas.size() >= 4 * (index + 1)) {
    const long* w = &workareas[4 * index];
    const ScreenArea clipped =
        Intersect(best, {static_cast<int>(w[0]), static_cast<int>(w[1]),
                         static_cast<int>(w[0] + w[2]), static_cast<int>(w[1] + w[3])});
    if (Area(clipped) > 0) best = clipped;
  }
  return best;
}

void PopupWindow::MoveResizeShow(int x, int y, int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  XMoveResizeWindow(state_->display, state_->window, x, y, static_cast<unsigned>(width),
                    static_cast<unsigned>(height));
  state_->width = width;
  state_->height = height;
  if (!state_->mapped) {
    XMapRaised(state_->display, state_->window);
    state_->mapped = true;
  } else {
    XRaiseWindow(state_->display, state_->window);
  }
}

void PopupWindow::Hide() {
  if (!state_->mapped) return;
  XUnmapWindow(state_->display, state_->window);
  state_->mapped = false;
  XFlush(state_->display);
}

void PopupWindow::SetRoundedShape(int width, int height, int radius) {
  if (!state_->has_shape) return;
  radius = std::clamp(radius, 0, std::min(width, height) / 2);
  std::vector<XRectangle> spans;
  auto span = [&](int y, int rows, int inset) {
    spans.push_back({static_cast<short>(inset), static_cast<short>(y),
                     static_cast<unsigned short>(std::max(width - 2 * inset, 0)),
                     static_cast<unsigned short>(rows)});
  };
  for (int y = 0; y < radius; ++y) {
    const double dy = radius - y - 0.5;
    const int inset =
        static_cast<int>(std::lround(radius - std::sqrt(std::max(0.0, radius * radius - dy * dy))));
    span(y, 1, inset);
    span(height - 1 - y, 1, inset);
  }
  span(radius, height - 2 * radius, 0);
  XShapeCombineRectangles(state_->display, state_->window, ShapeBounding, 0, 0, spans.data(),
                          static_cast<int>(spans.size()), ShapeSet, Unsorted);
}

void PopupWindow::Present(cairo_surface_t* image) {
  if (!image || cairo_image_surface_get_format(image) != CAIRO_FORMAT_ARGB32) return;
  cairo_surface_flush(image);
  const int width = std::min(cairo_image_surface_get_width(image), state_->width);
  const int height = std::min(cairo_image_surface_get_height(image), state_->height);
  if (width <= 0 || height <= 0) return;
  // Cairo keeps ARGB32 as native 32-bit words, premultiplied: what an ARGB visual expects (a
  // 24-bit visual ignores the top byte).
  XImage frame{};
  frame.width = cairo_image_surface_get_width(image);
  frame.height = cairo_image_surface_get_height(image);
  frame.format = ZPixmap;
  frame.data = reinterpret_cast<char*>(cairo_image_surface_get_data(image));
  const uint32_t probe = 1;
  frame.byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
  frame.bitmap_unit = 32;
  frame.bitmap_bit_order = frame.byte_order;
  frame.bitmap_pad = 32;
  frame.depth = state_->depth;
  frame.bytes_per_line = cairo_image_surface_get_stride(image);
  frame.bits_per_pixel = 32;
  frame.red_mask = state_->visual->red_mask;
  frame.green_mask = state_->visual->green_mask;
  frame.blue_mask = state_->visual->blue_mask;
  if (!XInitImage(&frame)) return;
  XPutImage(state_->display, state_->window, state_->gc, &frame, 0, 0, 0, 0,
            static_cast<unsigned>(width), static_cast<unsigned>(height));
}

void PopupWindow::DrawNotice(const std::string& text) {
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, state_->width, state_->height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    XSetWindowBackground(state_->display, state_->window, 0xFFFFFFFF);
    XClearWindow(state_->display, state_->window);
    return;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr, 1, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_rectangle(cr, 8, 6, std::max(state_->width - 16, 0), std::max(state_->height - 12, 0));
  cairo_clip(cr);
  cairo_select_font_face(cr, kNoticeFontFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kNoticeFontSize);
  cairo_font_extents_t font{};
  cairo_font_extents(cr, &font);
  cairo_set_source_rgba(cr, 0, 0, 0, 1);
  cairo_move_to(cr, 8, (state_->height - (font.ascent + font.descent)) / 2 + font.ascent);
  cairo_show_text(cr, text.c_str());
  cairo_destroy(cr);
  Present(surface);
  cairo_surface_destroy(surface);
}

void PopupWindow::Flush() {
  XFlush(state_->display);
}

void PopupWindow::RoundTrip() {
  XSync(state_->display, False);
}

bool PopupWindow::PointerPosition(int* root_x, int* root_y) const {
  Window root = 0;
  Window child = 0;
  int x = 0;
  int y = 0;
  unsigned mask = 0;
  if (!XQueryPointer(state_->display, state_->root, &root, &child, root_x, root_y, &x, &y, &mask)) {
    return false;
  }
  return true;
}

bool PopupWindow::HasQueuedEvents() const {
  return XEventsQueued(state_->display, QueuedAlready) > 0;
}

bool PopupWindow::NextEvent(PopupEvent* event) {
  Display* display = state_->display;
  while (XPending(display) > 0) {
    XEvent x{};
    XNextEvent(display, &x);
    *event = PopupEvent{};
    switch (x.type) {
      case Expose:
        if (x.xexpose.count != 0) continue;
        event->type = PopupEvent::Type::kExpose;
        return true;
      case MotionNotify:
        event->type = PopupEvent::Type::kMotion;
        event->x = x.xmotion.x;
        event->y = x.xmotion.y;
        event->root_x = x.xmotion.x_root;
        event->root_y = x.xmotion.y_root;
        return true;
      case ButtonPress:
        if (x.xbutton.button != Button4 && x.xbutton.button != Button5) continue;
        event->type = PopupEvent::Type::kWheel;
        event->wheel_delta = x.xbutton.button == Button4 ? 1 : -1;
        event->x = x.xbutton.x;
        event->y = x.xbutton.y;
        return true;
      case ButtonRelease:
        if (x.xbutton.button < Button1 || x.xbutton.button > Button3) continue;
        event->type = PopupEvent::Type::kButtonRelease;
        event->button = static_cast<int>(x.xbutton.button);
        event->x = x.xbutton.x;
        event->y = x.xbutton.y;
        event->root_x = x.xbutton.x_root;
        event->root_y = x.xbutton.y_root;
        return true;
      case PropertyNotify:
        if (x.xproperty.window != state_->root || x.xproperty.atom != state_->resource_manager) {
          continue;
        }
        event->type = PopupEvent::Type::kDpiChanged;
        return true;
      default:
        continue;
    }
  }
  return false;
}

}  // namespace kavi::win
