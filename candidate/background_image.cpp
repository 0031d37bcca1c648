// SPDX-License-Identifier: Apache-2.0
#include "candidate/background_image.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace kavi::win {

cairo_surface_t* LoadBackgroundImage(const std::filesystem::path& path, std::string* message) {
  int width = 0;
  int height = 0;
  // The header alone says how large the picture is; refuse before decoding it.
  if (!gdk_pixbuf_get_file_info(path.c_str(), &width, &height)) {
    *message = "unreadable image";
    return nullptr;
  }
  if (width <= 0 || height <= 0 || width > kMaxBackgroundSide || height > kMaxBackgroundSide ||
      static_cast<long long>(width) * height > kMaxBackgroundPixels) {
    *message = "image size out of range";
    return nullptr;
  }
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
  if (!pixbuf) {
    *message = error ? error->message : "cannot decode image";
    if (error) g_error_free(error);
    return nullptr;
  }
  width = gdk_pixbuf_get_width(pixbuf);
  height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const bool has_alpha = gdk_pixbuf_get_has_alpha(pixbuf);
  const int source_stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guchar* source = gdk_pixbuf_read_pixels(pixbuf);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    g_object_unref(pixbuf);
    *message = "out of memory";
    return nullptr;
  }
  unsigned char* target = cairo_image_surface_get_data(surface);
  const int target_stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    const guchar* in = source + static_cast<ptrdiff_t>(y) * source_stride;
    auto* out = reinterpret_cast<uint32_t*>(target + static_cast<ptrdiff_t>(y) * target_stride);
    for (int x = 0; x < width; ++x, in += channels) {
      const uint32_t a = has_alpha ? in[3] : 255;
      auto premultiply = [a](uint32_t c) { return (c * a + 127) / 255; };
      out[x] =
          (a << 24) | (premultiply(in[0]) << 16) | (premultiply(in[1]) << 8) | premultiply(in[2]);
    }
  }
  cairo_surface_mark_dirty(surface);
  g_object_unref(pixbuf);
  message->clear();
  return surface;
}

}  // namespace kavi::win
