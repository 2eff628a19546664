// The drawing interface the painting is written against. Each build fills one in over its
// off-screen buffer: GDI and GDI+ on Windows, cairo and Pango on Linux.
#pragma once

#include <cstdint>

// Colours as 0xRRGGBB.
typedef uint32_t rgb_colour;

enum ui_font : int { UI_FONT_TITLE, UI_FONT_SUBTITLE, UI_FONT_STATUS, UI_FONT_DETAIL };

enum text_flow : int {
  TEXT_CENTERED,       // one line, centred both ways
  TEXT_LEFT_ELLIPSIS,  // one line, left-aligned, centred vertically, "..." when cut
  TEXT_WRAPPED,        // word-wrapped lines centred horizontally, from the top
};

// Rectangles are left, top, right, bottom with right and bottom exclusive. Text is drawn with
// a transparent background, without prefix processing, and clipped to its rectangle.
struct canvas {
  void (*fill)(canvas* self, int left, int top, int right, int bottom, rgb_colour colour);
  // Rounded rectangle of width x height with a corner ellipse of corner x corner, filled and
  // outlined one pixel wide.
  void (*rounded_box)(canvas* self, int x, int y, int width, int height, rgb_colour fill, rgb_colour outline,
                      int corner);
  void (*text)(canvas* self, const wchar_t* text, int left, int top, int right, int bottom, ui_font font,
               rgb_colour colour, text_flow flow);
  // The whole background image scaled into the rectangle with high-quality interpolation.
  void (*background)(canvas* self, int x, int y, int width, int height);
};

void fill_rect_rgb(canvas* target, int left, int top, int right, int bottom, rgb_colour colour);
void draw_button(canvas* target, int x, int y, int width, int height, rgb_colour fill, rgb_colour outline, int corner);
void draw_center_text(canvas* target, const wchar_t* text, int left, int top, int right, int bottom, ui_font font,
                      rgb_colour colour);
// White text.
void draw_left_text(canvas* target, const wchar_t* text, int left, int top, int right, int bottom, ui_font font);
