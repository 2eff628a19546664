// Shared between the Windows halves of the window: GDI+, the fonts and the window class.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "ui/canvas.h"

extern ULONG_PTR g_gdiplus_token;
extern HFONT g_title_font;
extern HFONT g_subtitle_font;
extern HFONT g_status_font;
extern HFONT g_detail_font;

HFONT font_of(ui_font font);
// Drops the background scaled for the window (made on first paint).
void release_scaled_background();
