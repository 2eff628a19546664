#include "ui/assets.h"

#include <windows.h>
#include <objbase.h>

#include <initializer_list>

#include "ui/graphics_win.h"
#include "ui/window.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

ULONG_PTR g_gdiplus_token = 0;
HFONT g_title_font = nullptr;
HFONT g_subtitle_font = nullptr;
HFONT g_status_font = nullptr;
HFONT g_detail_font = nullptr;

namespace {
HFONT make_font(int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, L"Segoe UI");
}
}  // namespace

HFONT font_of(ui_font font) {
  switch (font) {
    case UI_FONT_TITLE:
      return g_title_font;
    case UI_FONT_SUBTITLE:
      return g_subtitle_font;
    case UI_FONT_STATUS:
      return g_status_font;
    case UI_FONT_DETAIL:
      return g_detail_font;
  }
  return g_detail_font;
}

int load_resource_image(int number, resource_image* destination) {
  dispose_resource_image(destination);
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(number), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (found == nullptr) return 0;
  HGLOBAL loaded = LoadResource(module, found);
  DWORD size = SizeofResource(module, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return 0;

  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  void* target = block != nullptr ? GlobalLock(block) : nullptr;
  if (target == nullptr) {
    if (block != nullptr) GlobalFree(block);
    return 0;
  }
  CopyMemory(target, bytes, size);
  GlobalUnlock(block);

  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(block, TRUE, &stream) != S_OK || stream == nullptr) {
    GlobalFree(block);
    return 0;
  }
  GpImage* image = nullptr;
  if (GdipLoadImageFromStream(stream, &image) != Ok || image == nullptr) {
    stream->Release();  // frees the block
    return 0;
  }
  destination->image = image;
  destination->stream = stream;
  return 1;
}

void dispose_resource_image(resource_image* image) {
  if (image->image != nullptr) GdipDisposeImage(static_cast<GpImage*>(image->image));
  if (image->stream != nullptr) static_cast<IStream*>(image->stream)->Release();
  image->image = nullptr;
  image->stream = nullptr;
}

int resource_image_size(const resource_image* image, int* width, int* height) {
  UINT w = 0;
  UINT h = 0;
  if (image->image == nullptr || GdipGetImageWidth(static_cast<GpImage*>(image->image), &w) != Ok ||
      GdipGetImageHeight(static_cast<GpImage*>(image->image), &h) != Ok) {
    return 0;
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return 1;
}

int start_ui_graphics() {
  GdiplusStartupInput input;  // version 1, no debug callback, background thread, external codecs
  if (GdiplusStartup(&g_gdiplus_token, &input, nullptr) != Ok) return 0;
  if (!load_ui_images()) return 0;
  g_title_font = make_font(-32, 700);
  g_subtitle_font = make_font(-16, 600);
  g_status_font = make_font(-18, 600);
  g_detail_font = make_font(-14, 400);
  return g_title_font != nullptr && g_subtitle_font != nullptr && g_status_font != nullptr && g_detail_font != nullptr;
}

void dispose_ui_assets() {
  release_scaled_background();
  dispose_ui_images();
  for (HFONT* font : {&g_title_font, &g_subtitle_font, &g_status_font, &g_detail_font}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
  if (g_gdiplus_token != 0) GdiplusShutdown(g_gdiplus_token);
  g_gdiplus_token = 0;
}
