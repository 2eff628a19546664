#include <windows.h>

#include "core/status.h"
#include "ui/assets.h"
#include "ui/graphics_win.h"
#include "ui/layout.h"
#include "ui/paint_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {
struct gdi_canvas {
  canvas base;
  HDC dc;
};

HDC dc_of(canvas* self) { return reinterpret_cast<gdi_canvas*>(self)->dc; }

COLORREF colour_ref(rgb_colour colour) { return RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF); }

void gdi_fill(canvas* self, int left, int top, int right, int bottom, rgb_colour colour) {
  RECT area = {left, top, right, bottom};
  HBRUSH brush = CreateSolidBrush(colour_ref(colour));
  if (brush == nullptr) return;
  FillRect(dc_of(self), &area, brush);
  DeleteObject(brush);
}

void gdi_rounded_box(canvas* self, int x, int y, int width, int height, rgb_colour fill, rgb_colour outline,
                     int corner) {
  HDC dc = dc_of(self);
  HBRUSH brush = CreateSolidBrush(colour_ref(fill));
  HPEN pen = CreatePen(PS_SOLID, 1, colour_ref(outline));
  if (brush != nullptr && pen != nullptr) {
    HGDIOBJ old_brush = SelectObject(dc, brush);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    RoundRect(dc, x, y, x + width, y + height, corner, corner);
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
  }
  if (pen != nullptr) DeleteObject(pen);
  if (brush != nullptr) DeleteObject(brush);
}

void gdi_text(canvas* self, const wchar_t* text, int left, int top, int right, int bottom, ui_font font,
              rgb_colour colour, text_flow flow) {
  HDC dc = dc_of(self);
  RECT area = {left, top, right, bottom};
  UINT format = DT_NOPREFIX;
  switch (flow) {
    case TEXT_CENTERED:
      format |= DT_CENTER | DT_VCENTER | DT_SINGLELINE;
      break;
    case TEXT_LEFT_ELLIPSIS:
      format |= DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS;
      break;
    case TEXT_WRAPPED:
      format |= DT_CENTER | DT_VCENTER | DT_WORDBREAK;
      break;
  }
  HGDIOBJ old_font = SelectObject(dc, font_of(font));
  SetTextColor(dc, colour_ref(colour));
  SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text, -1, &area, format);
  SelectObject(dc, old_font);
}

HBITMAP g_scaled_background = nullptr;

// The background scaled once with the best filter into a bitmap of its own: the window repaints
// every 40 ms, and a high-quality scale of the whole image on each paint keeps the window thread
// busy most of the time.
HBITMAP scale_background(HDC like, int width, int height) {
  HDC memory = CreateCompatibleDC(like);
  HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(like, width, height) : nullptr;
  GpGraphics* graphics = nullptr;
  bool drawn = false;
  if (bitmap != nullptr) {
    HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
    if (GdipCreateFromHDC(memory, &graphics) == Ok && graphics != nullptr) {
      GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
      drawn = GdipDrawImageRectRectI(graphics, static_cast<GpImage*>(g_background.image), 0, 0, width, height, 0, 0,
                                     1672, 941, UnitPixel, nullptr, nullptr, nullptr) == Ok;
      GdipDeleteGraphics(graphics);
    }
    SelectObject(memory, old_bitmap);
  }
  if (memory != nullptr) DeleteDC(memory);
  if (!drawn && bitmap != nullptr) {
    DeleteObject(bitmap);
    bitmap = nullptr;
  }
  return bitmap;
}

void gdi_background(canvas* self, int x, int y, int width, int height) {
  if (g_background.image == nullptr) return;
  HDC dc = dc_of(self);
  if (g_scaled_background == nullptr) g_scaled_background = scale_background(dc, width, height);
  if (g_scaled_background == nullptr) return;
  HDC source = CreateCompatibleDC(dc);
  if (source == nullptr) return;
  HGDIOBJ old_bitmap = SelectObject(source, g_scaled_background);
  BitBlt(dc, x, y, width, height, source, 0, 0, SRCCOPY);
  SelectObject(source, old_bitmap);
  DeleteDC(source);
}
}  // namespace

void paint_window(HWND window) {
  PAINTSTRUCT paint;
  HDC window_dc = BeginPaint(window, &paint);
  int32_t progress_mode = g_progress_mode.load();
  HDC memory = CreateCompatibleDC(window_dc);
  HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(window_dc, WINDOW_WIDTH, WINDOW_HEIGHT) : nullptr;
  if (memory == nullptr || bitmap == nullptr) {
    if (memory != nullptr) DeleteDC(memory);
    EndPaint(window, &paint);
    return;
  }
  HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
  gdi_canvas target{{gdi_fill, gdi_rounded_box, gdi_text, gdi_background}, memory};
  paint_launcher(&target.base, progress_mode);
  BitBlt(window_dc, 0, 0, WINDOW_WIDTH, WINDOW_HEIGHT, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old_bitmap);
  DeleteObject(bitmap);
  DeleteDC(memory);
  EndPaint(window, &paint);
}

void release_scaled_background() {
  if (g_scaled_background != nullptr) DeleteObject(g_scaled_background);
  g_scaled_background = nullptr;
}
