#include "ui/canvas.h"

void fill_rect_rgb(canvas* target, int left, int top, int right, int bottom, rgb_colour colour) {
  target->fill(target, left, top, right, bottom, colour);
}

void draw_button(canvas* target, int x, int y, int width, int height, rgb_colour fill, rgb_colour outline, int corner) {
  target->rounded_box(target, x, y, width, height, fill, outline, corner);
}

void draw_center_text(canvas* target, const wchar_t* text, int left, int top, int right, int bottom, ui_font font,
                      rgb_colour colour) {
  target->text(target, text, left, top, right, bottom, font, colour, TEXT_CENTERED);
}

void draw_left_text(canvas* target, const wchar_t* text, int left, int top, int right, int bottom, ui_font font) {
  target->text(target, text, left, top, right, bottom, font, 0xFFFFFF, TEXT_LEFT_ELLIPSIS);
}
