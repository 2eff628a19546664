// What the launcher window shows and where: the painting of the whole surface, the progress
// figures, and the areas the pointer can hit. Written once for both builds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/canvas.h"

constexpr int WINDOW_WIDTH = 1106;
constexpr int WINDOW_HEIGHT = 676;
constexpr int TITLE_BAR_HEIGHT = 33;
// The outline's corner ellipse.
constexpr int WINDOW_CORNER = 18;

// Pointer over the close glyph / over the play button in the ready state (UI thread only).
extern int g_close_hover;
extern int g_play_hover;

// What the progress band shows: the bar's width in pixels (0 to 1030) and its text.
constexpr uint32_t PROGRESS_BAR_WIDTH = 1030;
constexpr size_t PROGRESS_TEXT_UNITS = 128;
struct progress_view {
  uint32_t width;
  wchar_t text[PROGRESS_TEXT_UNITS];
};
// From the mode read once at the start of the paint, the progress figures and g_ui_state.
void compute_progress_view(int32_t mode, progress_view* view);

// Paints the whole 1106 x 676 surface from g_ui_state, the progress figures, the selected
// account and the hover flags.
void paint_launcher(canvas* target, int32_t progress_mode);

// Areas of the window in the order a click tries them; the first that holds the point wins.
enum hit_area : int {
  HIT_NOTHING,
  HIT_CLOSE,
  HIT_MINIMISE,
  HIT_PLAY,  // ready state only
  HIT_SERVER,
  HIT_VERSION,
  HIT_INFORMATION,
  HIT_LANGUAGE,
  HIT_ACCOUNTS,
  HIT_ADD_ACCOUNT,
  HIT_PLAY_ACCOUNT,  // ready state only
  HIT_REMOVE_ACCOUNT,
  HIT_ACCOUNT_ROW,
};
hit_area hit_test(int x, int y, int32_t ui_state);
// Whether a press at the point moves the window: the top strip, except the two glyphs.
int in_drag_strip(int x, int y);
