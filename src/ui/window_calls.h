// What the window's behaviour asks of the platform half (boxes, pop-up menus, repainting), as
// one table of calls that tests replace; the window and the accounts menu both use it.
#pragma once

// One entry of a pop-up menu.
constexpr unsigned MENU_CHECKED = 1;
constexpr unsigned MENU_GRAYED = 2;
constexpr unsigned MENU_SEPARATOR = 4;
struct menu_item {
  unsigned id;
  const wchar_t* text;
  unsigned flags;
};

// What the window's behaviour asks of the platform, all about g_window and on the UI thread.
struct window_calls {
  // A box owned by the window; returns the answer (BOX_ANSWER_YES for yes).
  int (*message_box)(const wchar_t* text, const wchar_t* caption, unsigned style);
  // A pop-up menu at the pointer; returns the chosen id, 0 when dismissed.
  unsigned (*popup_menu)(const menu_item* items, int count);
  void (*invalidate)();  // repaint the whole window later, without erasing
  void (*paint_now)();   // repaint what is invalid before returning
  void (*minimise)();
  void (*destroy)();  // destroying ends the message loop
};
// The platform's calls; tests put a recording double in their place.
extern const window_calls* g_window_calls;
extern const window_calls k_platform_window_calls;
