// Shared between the Linux halves of the window: the fonts and the toolkit's state.
#pragma once

#include "ui/gtk_posix.h"

#include "ui/canvas.h"

// "Segoe UI" at the four sizes; where it is not installed Pango falls back to another font.
PangoFontDescription* font_of(ui_font font);
// Nonzero once the toolkit is up (a display was opened).
extern int g_toolkit_started;
// Starts the toolkit unless it runs: g_toolkit_started.
int start_toolkit();
// Drops the background scaled for the window (made on first paint).
void release_scaled_background();
