// SPDX-License-Identifier: Apache-2.0
#include "platform/window/popup_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
constexpr double kDefaultRefreshHz = 60;
// The frame buffer grows in steps, so that a window that widens key by key while typing does
// not get a new one each time.
constexpr int kFrameBufferStep = 128;

// The serial of the last request the server refused.
std::atomic<unsigned long> g_last_failed_request{0};

// A request on a window that just went away must not end the server: Xlib's default handler
// exits the process.
int IgnoreXError(Display*, XErrorEvent* error) {
  g_last_failed_request = error->serial;
  return 0;
}

// Nor may a lost connection: the default I/O error handler prints and the default exit handler
// ends the process. This one returns; the display's exit handler below records the loss.
int IgnoreXIOError(Display*) {
  return 0;
}

// Shared memory reaches only a server on this machine.
bool LocalConnection(Display* display) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  return getsockname(ConnectionNumber(display), reinterpret_cast<sockaddr*>(&address), &length) ==
             0 &&
         address.ss_family == AF_UNIX;
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

// The window's pixels on this side, and the X image that carries them to the server.
struct FrameImage {
  Display* display = nullptr;
  XImage* image = nullptr;  // shared only
  XImage plain{};           // not shared: over `memory`
  XShmSegmentInfo shm{};
  bool shared = false;
  std::vector<unsigned char> memory;  // when not shared
  int capacity_width = 0;
  int capacity_height = 0;
  cairo_surface_t* surface = nullptr;  // the window's size, over the image's pixels
  int pending = 0;                     // shared frames the server has not read yet

  ~FrameImage() {
    if (surface) cairo_surface_destroy(surface);
    if (image) {
      if (shared) {
        XShmDetach(display, &shm);
        XSync(display, False);
        shmdt(shm.shmaddr);
      }
      image->data = nullptr;  // not Xlib's to free
      XDestroyImage(image);
    }
  }
};

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
  int randr_event = -1;
  int shm_completion = -1;  // event type; -1 without MIT-SHM
  std::unique_ptr<FrameImage> frame;
  bool frame_failed = false;
  int x = 0;
  int y = 0;
  int width = 1;
  int height = 1;
  bool mapped = false;
  bool has_shape = false;
  // Set by Xlib (on whichever call found the connection broken) and read by the owner's thread,
  // which is the only thread that calls into this display.
  bool lost = false;

  int shape_width = -1;
  int shape_height = -1;
  int shape_radius = -1;
  // Read from the server once, then again after it said they changed.
  double dpi = 0;
  bool monitors_known = false;
  std::vector<ScreenArea> monitors;
  bool workarea_known = false;
  std::vector<long> workareas;
  std::vector<long> current_desktop;
  double frame_interval_ms = 0;

  ~State() {
    frame.reset();
    if (display) {
      if (gc) XFreeGC(display, gc);
      if (window) XDestroyWindow(display, window);
      if (colormap) XFreeColormap(display, colormap);
      XCloseDisplay(display);
    }
  }

  // Whether cairo's ARGB32 (RGB24) images are the visual's pixels as the server takes them, as
  // shared memory needs (Xlib converts other images on the way).
  bool DirectPixels() const {
    return visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 &&
           visual->blue_mask == 0xFF && (depth == 32 || depth == 24) &&
           ImageByteOrder(display) == LSBFirst;
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
  int randr_error = 0;
  if (XRRQueryExtension(display, &state->randr_event, &randr_error)) {
    XRRSelectInput(display, state->root, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask);
  }
  if (XShmQueryExtension(display) && LocalConnection(display)) {
    state->shm_completion = XShmGetEventBase(display) + ShmCompletion;
  }
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

double PopupWindow::Dpi() {
  if (state_->dpi > 0) return state_->dpi;
  state_->dpi = kDefaultDpi;
  const std::string resources =
      StringProperty(state_->display, state_->root, state_->resource_manager);
  constexpr std::string_view kKey = "Xft.dpi:";
  size_t at = 0;
  while ((at = resources.find(kKey, at)) != std::string::npos) {
    if (at == 0 || resources[at - 1] == '\n') {
      const double dpi = std::strtod(resources.c_str() + at + kKey.size(), nullptr);
      if (std::isfinite(dpi) && dpi > 0) state_->dpi = dpi;
    }
    at += kKey.size();
  }
  return state_->dpi;
}

ScreenArea PopupWindow::WorkAreaNear(const ScreenArea& anchor) {
  Display* display = state_->display;
  if (!state_->monitors_known) {
    state_->monitors.clear();
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, state_->root, True, &count);
    if (monitors) {
      for (int i = 0; i < count; ++i) {
        state_->monitors.push_back({monitors[i].x, monitors[i].y, monitors[i].x + monitors[i].width,
                                    monitors[i].y + monitors[i].height});
      }
      XRRFreeMonitors(monitors);
    }
    state_->monitors_known = true;
  }
  if (!state_->workarea_known) {
    state_->workareas = CardinalProperty(display, state_->root, state_->net_workarea);
    state_->current_desktop = CardinalProperty(display, state_->root, state_->net_current_desktop);
    state_->workarea_known = true;
  }
  ScreenArea best{0, 0, DisplayWidth(display, state_->screen),
                  DisplayHeight(display, state_->screen)};
  long long best_overlap = -1;
  long long best_distance = LLONG_MAX;
  const int cx = anchor.left + (anchor.right - anchor.left) / 2;
  const int cy = anchor.top + (anchor.bottom - anchor.top) / 2;
  for (const ScreenArea& area : state_->monitors) {
    const long long overlap = Area(Intersect(area, anchor));
    const long long distance = DistanceSquared(area, cx, cy);
    if (overlap > best_overlap || (overlap == best_overlap && distance < best_distance)) {
      best = area;
      best_overlap = overlap;
      best_distance = distance;
    }
  }
  const std::vector<long>& workareas = state_->workareas;
  const size_t index =
      state_->current_desktop.empty() ? 0 : static_cast<size_t>(state_->current_desktop[0]);
  if (workareas.size() >= 4 * (index + 1)) {
    const long* w = &workareas[4 * index];
    const ScreenArea clipped =
        Intersect(best, {static_cast<int>(w[0]), static_cast<int>(w[1]),
                         static_cast<int>(w[0] + w[2]), static_cast<int>(w[1] + w[3])});
    if (Area(clipped) > 0) best = clipped;
  }
  return best;
}

double PopupWindow::FrameIntervalMs() {
  if (state_->frame_interval_ms > 0) return state_->frame_interval_ms;
  double fastest = 0;
  if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(state_->display, state_->root)) {
    for (int i = 0; i < resources->ncrtc; ++i) {
      XRRCrtcInfo* crtc = XRRGetCrtcInfo(state_->display, resources, resources->crtcs[i]);
      if (!crtc) continue;
      for (int m = 0; m < resources->nmode && crtc->mode != None; ++m) {
        const XRRModeInfo& mode = resources->modes[m];
        if (mode.id != crtc->mode || mode.hTotal == 0 || mode.vTotal == 0) continue;
        fastest = std::max(fastest, static_cast<double>(mode.dotClock) /
                                        (static_cast<double>(mode.hTotal) * mode.vTotal));
      }
      XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(resources);
  }
  if (!(fastest >= 1 && fastest <= 1000)) fastest = kDefaultRefreshHz;
  state_->frame_interval_ms = 1000.0 / fastest;
  return state_->frame_interval_ms;
}

void PopupWindow::MoveResizeShow(int x, int y, int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (state_->mapped && x == state_->x && y == state_->y && width == state_->width &&
      height == state_->height) {
    return;
  }
  XMoveResizeWindow(state_->display, state_->window, x, y, static_cast<unsigned>(width),
                    static_cast<unsigned>(height));
  state_->x = x;
  state_->y = y;
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
  if (width == state_->shape_width && height == state_->shape_height &&
      radius == state_->shape_radius) {
    return;
  }
  state_->shape_width = width;
  state_->shape_height = height;
  state_->shape_radius = radius;
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

cairo_surface_t* PopupWindow::FrameBuffer(int width, int height) {
  State& st = *state_;
  width = std::max(width, 1);
  height = std::max(height, 1);
  FrameImage* frame = st.frame.get();
  if (frame && frame->pending > 0) {
    // Shared pixels must not change under a server still reading them.
    XEvent event;
    while (frame->pending > 0 &&
           XCheckTypedWindowEvent(st.display, st.window, st.shm_completion, &event)) {
      --frame->pending;
    }
    if (frame->pending > 0) {
      XSync(st.display, False);
      frame->pending = 0;
    }
  }
  if (frame && frame->capacity_width >= width && frame->capacity_height >= height) {
    if (cairo_image_surface_get_width(frame->surface) == width &&
        cairo_image_surface_get_height(frame->surface) == height) {
      return frame->surface;
    }
    const cairo_format_t format = cairo_image_surface_get_format(frame->surface);
    const int stride = cairo_image_surface_get_stride(frame->surface);
    unsigned char* pixels =
        frame->shared ? reinterpret_cast<unsigned char*>(frame->image->data) : frame->memory.data();
    cairo_surface_destroy(frame->surface);
    frame->surface = cairo_image_surface_create_for_data(pixels, format, width, height, stride);
    return frame->surface;
  }
  st.frame.reset();
  if (st.frame_failed) return nullptr;

  auto made = std::make_unique<FrameImage>();
  made->display = st.display;
  made->capacity_width = (width + kFrameBufferStep - 1) / kFrameBufferStep * kFrameBufferStep;
  made->capacity_height = (height + kFrameBufferStep - 1) / kFrameBufferStep * kFrameBufferStep;
  const cairo_format_t format = st.depth == 32 ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
  const int stride = cairo_format_stride_for_width(format, made->capacity_width);
  if (st.DirectPixels() && st.shm_completion >= 0) {
    XImage* image = XShmCreateImage(
        st.display, st.visual, static_cast<unsigned>(st.depth), ZPixmap, nullptr, &made->shm,
        static_cast<unsigned>(made->capacity_width), static_cast<unsigned>(made->capacity_height));
    if (image && image->bytes_per_line == stride) {
      made->shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(stride) * made->capacity_height,
                               IPC_CREAT | 0600);
      void* address = made->shm.shmid >= 0 ? shmat(made->shm.shmid, nullptr, 0) : nullptr;
      if (address && address != reinterpret_cast<void*>(-1)) {
        made->shm.shmaddr = image->data = static_cast<char*>(address);
        made->shm.readOnly = False;
        const unsigned long serial = NextRequest(st.display);
        XShmAttach(st.display, &made->shm);
        XSync(st.display, False);
        made->image = image;
        made->shared = g_last_failed_request.load() < serial;
        if (!made->shared) {
          // The server cannot reach this memory (another machine or namespace).
          shmdt(address);
          made->image = nullptr;
          st.shm_completion = -1;
        }
      }
      // Freed once both sides have let go of it.
      if (made->shm.shmid >= 0) shmctl(made->shm.shmid, IPC_RMID, nullptr);
    }
    if (image && !made->image) {
      image->data = nullptr;
      XDestroyImage(image);
    }
  }
  if (!made->image) {
    // Cairo keeps pixels as native 32-bit words, premultiplied: what an ARGB visual expects (a
    // 24-bit visual ignores the top byte). Xlib converts them when the server's byte order is
    // not this machine's.
    made->memory.assign(static_cast<size_t>(stride) * made->capacity_height, 0);
    XImage& plain = made->plain;
    plain.width = made->capacity_width;
    plain.height = made->capacity_height;
    plain.format = ZPixmap;
    plain.data = reinterpret_cast<char*>(made->memory.data());
    const uint32_t probe = 1;
    plain.byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
    plain.bitmap_unit = 32;
    plain.bitmap_bit_order = plain.byte_order;
    plain.bitmap_pad = 32;
    plain.depth = st.depth;
    plain.bytes_per_line = stride;
    plain.bits_per_pixel = 32;
    plain.red_mask = st.visual->red_mask;
    plain.green_mask = st.visual->green_mask;
    plain.blue_mask = st.visual->blue_mask;
    if (!XInitImage(&plain)) {
      st.frame_failed = true;
      return nullptr;
    }
  }
  unsigned char* pixels =
      made->shared ? reinterpret_cast<unsigned char*>(made->image->data) : made->memory.data();
  made->surface = cairo_image_surface_create_for_data(pixels, format, width, height, stride);
  if (cairo_surface_status(made->surface) != CAIRO_STATUS_SUCCESS) {
    st.frame_failed = true;
    return nullptr;
  }
  st.frame = std::move(made);
  return st.frame->surface;
}

void PopupWindow::Present(const std::vector<ScreenArea>& areas) {
  State& st = *state_;
  FrameImage* frame = st.frame.get();
  if (!frame) return;
  cairo_surface_flush(frame->surface);
  std::vector<ScreenArea> whole;
  if (areas.empty()) whole.push_back({0, 0, st.width, st.height});
  for (const ScreenArea& requested : areas.empty() ? whole : areas) {
    const ScreenArea a = Intersect(requested, {0, 0, st.width, st.height});
    if (Area(a) <= 0) continue;
    const unsigned w = static_cast<unsigned>(a.right - a.left);
    const unsigned h = static_cast<unsigned>(a.bottom - a.top);
    if (frame->shared) {
      XShmPutImage(st.display, st.window, st.gc, frame->image, a.left, a.top, a.left, a.top, w, h,
                   True);
      ++frame->pending;
    } else {
      XPutImage(st.display, st.window, st.gc, &frame->plain, a.left, a.top, a.left, a.top, w, h);
    }
  }
}

void PopupWindow::ReleaseFrameBuffer() {
  state_->frame.reset();
  state_->frame_failed = false;
}

bool PopupWindow::SharedMemory() const {
  return state_->frame && state_->frame->shared;
}

void PopupWindow::DrawNotice(const std::string& text) {
  cairo_surface_t* surface = FrameBuffer(state_->width, state_->height);
  if (!surface) {
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
  Present({});
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
        if (x.xproperty.window != state_->root) continue;
        if (x.xproperty.atom == state_->net_workarea ||
            x.xproperty.atom == state_->net_current_desktop) {
          state_->workarea_known = false;
          continue;
        }
        if (x.xproperty.atom != state_->resource_manager) continue;
        state_->dpi = 0;
        event->type = PopupEvent::Type::kDpiChanged;
        return true;
      default:
        if (x.type == state_->shm_completion) {
          if (state_->frame && state_->frame->pending > 0) --state_->frame->pending;
        } else if (state_->randr_event >= 0 &&
                   (x.type == state_->randr_event + RRScreenChangeNotify ||
                    x.type == state_->randr_event + RRNotify)) {
          XRRUpdateConfiguration(&x);
          state_->monitors_known = false;
          state_->frame_interval_ms = 0;
        }
        continue;
    }
  }
  return false;
}

}  // namespace kavi::win
