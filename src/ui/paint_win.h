// The Windows painting: WM_PAINT draws the whole window off-screen and copies it in one go.
#pragma once

#include <windows.h>

void paint_window(HWND window);
