

#include <cmath>
#include <cstdlib>
#include <cwchar>

#include "core/system_path_posix.h"
#include "core/text.h"
#include "ui/assets.h"
#include "ui/gtk_posix.h"
#include "ui/graphics_posix.h"
#include "ui/layout.h"
#include "ui/paint_posix.h"

namespace {
struct cairo_canvas {
  canvas base;
  cairo_t* cr;
};

GdkPixbuf* g_scaled_background = nullptr;

cairo_t* context_of(canvas* self) { return reinterpret_cast<cairo_canvas*>(self)->cr; }

void set_colour(cairo_t* cr, rgb_colour colour) {
  cairo_set_source_rgb(cr, ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, (colour & 0xFF) / 255.0);
}

void cairo_fill_rect(canvas* self, int left, int top, int right, int bottom, rgb_colour colour) {
  if (right <= left || bottom <= top) return;
  cairo_t* cr = context_of(self);
  set_colour(cr, colour);
  cairo_rectangle(cr, left, top, right - left, bottom - top);
  cairo_fill(cr);
}

// The outline runs along the pixel centres of the outer pixels, as a one-pixel pen does.
void rounded_path(cairo_t* cr, double left, double top, double right, double bottom, double radius) {
  double limit = std::fmin(right - left, bottom - top) / 2;
  if (radius > limit) radius = limit;
  cairo_new_sub_path(cr);
  cairo_arc(cr, right - radius, top + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, right - radius, bottom - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, left + radius, bottom - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, left + radius, top + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void cairo_rounded_box(canvas* self, int x, int y, int width, int height, rgb_colour fill, rgb_colour outline,
                       int corner) {
  if (width <= 1 || height <= 1) return;
  cairo_t* cr = context_of(self);
  rounded_path(cr, x + 0.5, y + 0.5, x + width - 0.5, y + height - 0.5, corner / 2.0);
  set_colour(cr, fill);
  cairo_fill_preserve(cr);
  set_colour(cr, outline);
  cairo_set_line_width(cr, 1.0);
  cairo_stroke(cr);
}

void cairo_text(canvas* self, const wchar_t* text, int left, int top, int right, int bottom, ui_font font,
                rgb_colour colour, text_flow flow) {
  if (right <= left || bottom <= top) return;
  size_t units = wcslen(text);
  // At most four UTF-8 bytes per unit.
  char* utf8 = static_cast<char*>(malloc(units * 4 + 1));
  if (utf8 == nullptr) return;
  size_t bytes = units == 0 ? 0 : wide_to_utf8(text, units, utf8, units * 4);
  utf8[bytes] = '\0';

  cairo_t* cr = context_of(self);
  cairo_save(cr);
  cairo_rectangle(cr, left, top, right - left, bottom - top);
  cairo_clip(cr);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  pango_layout_set_font_description(layout, font_of(font));
  pango_layout_set_text(layout, utf8, static_cast<int>(bytes));
  int width = right - left;
  if (flow == TEXT_WRAPPED) {
    pango_layout_set_width(layout, width * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
  } else {
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    if (flow == TEXT_LEFT_ELLIPSIS) {
      pango_layout_set_width(layout, width * PANGO_SCALE);
      pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    }
  }
  PangoRectangle extents;
  pango_layout_get_pixel_extents(layout, nullptr, &extents);
  double x = left;
  double y = top;
  if (flow == TEXT_CENTERED) x = left + (width - extents.width) / 2.0 - extents.x;
  if (flow != TEXT_WRAPPED) y = top + (bottom - top - extents.height) / 2.0;
  set_colour(cr, colour);
  cairo_move_to(cr, std::floor(x), std::floor(y));
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  cairo_restore(cr);
  free(utf8);
}

void cairo_background(canvas* self, int x, int y, int width, int height) {
  if (g_background.image == nullptr) return;
  // Scaled once with the best filter and kept: the window repaints every 40 ms.
  if (g_scaled_background == nullptr) {
    g_scaled_background =
        gdk_pixbuf_scale_simple(static_cast<GdkPixbuf*>(g_background.image), width, height, GDK_INTERP_HYPER);
  }
  if (g_scaled_background == nullptr) return;
  cairo_t* cr = context_of(self);
  cairo_save(cr);
  gdk_cairo_set_source_pixbuf(cr, g_scaled_background, x, y);
  cairo_rectangle(cr, x, y, width, height);
  cairo_fill(cr);
  cairo_restore(cr);
}
}  // namespace

void release_scaled_background() {
  if (g_scaled_background != nullptr) g_object_unref(g_scaled_background);
  g_scaled_background = nullptr;
}

cairo_surface_t* paint_off_screen(int32_t progress_mode) {
  cairo_surface_t* buffer = cairo_image_surface_create(CAIRO_FORMAT_RGB24, WINDOW_WIDTH, WINDOW_HEIGHT);
  if (cairo_surface_status(buffer) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(buffer);
    return nullptr;
  }
  cairo_canvas target{{cairo_fill_rect, cairo_rounded_box, cairo_text, cairo_background}, cairo_create(buffer)};
  paint_launcher(&target.base, progress_mode);
  cairo_destroy(target.cr);
  cairo_surface_flush(buffer);
  return buffer;
}
