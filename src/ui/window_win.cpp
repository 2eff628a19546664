#include <windows.h>
#include <windowsx.h>

#include "core/status.h"
#include "ui/graphics_win.h"
#include "ui/layout.h"
#include "ui/paint_win.h"
#include "ui/window.h"

namespace {
constexpr wchar_t k_caption[] = L"Vorna380 - installation securisee";

int window_message_box(const wchar_t* text, const wchar_t* caption, unsigned style) {
  return MessageBoxW(g_window, text, caption, style);
}

unsigned window_popup_menu(const menu_item* items, int count) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return 0;
  for (int i = 0; i < count; ++i) {
    if (items[i].flags & MENU_SEPARATOR) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING;
    if (items[i].flags & MENU_CHECKED) flags |= MF_CHECKED;
    if (items[i].flags & MENU_GRAYED) flags |= MF_GRAYED;
    AppendMenuW(menu, flags, items[i].id, items[i].text);
  }
  POINT cursor = {0, 0};
  GetCursorPos(&cursor);
  unsigned chosen = static_cast<unsigned>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, g_window, nullptr));
  DestroyMenu(menu);
  return chosen;
}

void window_invalidate() { InvalidateRect(g_window, nullptr, FALSE); }
void window_paint_now() { UpdateWindow(g_window); }
void window_minimise() { ShowWindow(g_window, SW_MINIMIZE); }
void window_destroy() { DestroyWindow(g_window); }

void track_leave(HWND window) {
  TRACKMOUSEEVENT track = {};
  track.cbSize = sizeof track;
  track.dwFlags = TME_LEAVE;
  track.hwndTrack = window;
  track.dwHoverTime = 0;
  TrackMouseEvent(&track);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      SetTimer(window, IDT_REFRESH, REFRESH_PERIOD_MS, nullptr);
      return 0;
    case WM_TIMER:
      if (wparam == IDT_REFRESH) InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_PAINT:
      paint_window(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCHITTEST: {
      POINT point = {GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      ScreenToClient(window, &point);
      return in_drag_strip(point.x, point.y) ? HTCAPTION : HTCLIENT;
    }
    case WM_MOUSEMOVE:
      on_mouse_move(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      track_leave(window);
      return 0;
    case WM_MOUSELEAVE:
      on_mouse_leave();
      return 0;
    case WM_LBUTTONUP:
      on_left_button_up(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      return 0;
    case WM_CLOSE:
      on_close_request();
      return 0;
    case WM_DESTROY:
      KillTimer(window, IDT_REFRESH);
      PostQuitMessage(0);
      return 0;
    case WM_LAUNCHER_STATUS:
    case WM_LAUNCHER_ERROR:
    case WM_LAUNCHER_READY:
    case WM_LAUNCHER_CLOSE:
      on_launcher_message(message, lparam);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}
}  // namespace

const window_calls k_platform_window_calls = {window_message_box, window_popup_menu, window_invalidate,
                                              window_paint_now,   window_minimise,   window_destroy};

int create_launcher_window() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.style = 0;
  window_class.lpfnWndProc = window_proc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  window_class.lpszClassName = k_launcher_window_class;
  RegisterClassExW(&window_class);  // a failure shows as a failed creation

  int x = (GetSystemMetrics(SM_CXSCREEN) - WINDOW_WIDTH) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - WINDOW_HEIGHT) / 2;
  g_window = CreateWindowExW(WS_EX_APPWINDOW, k_launcher_window_class, k_caption, WS_POPUP, x, y, WINDOW_WIDTH, WINDOW_HEIGHT,
                             nullptr, nullptr, instance, nullptr);
  if (g_window == nullptr) return 0;
  HRGN outline = CreateRoundRectRgn(0, 0, WINDOW_WIDTH + 1, WINDOW_HEIGHT + 1, WINDOW_CORNER, WINDOW_CORNER);
  if (outline != nullptr && !SetWindowRgn(g_window, outline, TRUE)) DeleteObject(outline);
  ShowWindow(g_window, SW_SHOW);
  UpdateWindow(g_window);
  return 1;
}

void run_message_loop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void show_startup_box(const wchar_t* text, unsigned style) { MessageBoxW(nullptr, text, L"Vorna380", style); }
