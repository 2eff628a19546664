#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "ui_test_platform.h"

namespace {
ULONG_PTR g_token = 0;
}

int start_image_decoder() {
  Gdiplus::GdiplusStartupInput input;
  return Gdiplus::GdiplusStartup(&g_token, &input, nullptr) == Gdiplus::Ok;
}

void stop_image_decoder() {
  if (g_token != 0) Gdiplus::GdiplusShutdown(g_token);
  g_token = 0;
}
