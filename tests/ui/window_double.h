// A stand-in for the platform's window calls that records what the window's behaviour asks
// for and answers boxes and menus as the test says.
#pragma once

#include <string>
#include <vector>

#include "ui/window.h"

struct recorded_menu_item {
  unsigned id;
  std::wstring text;
  unsigned flags;
  bool operator==(const recorded_menu_item&) const = default;
};

struct recorded_call {
  std::string kind;  // "box", "menu", "invalidate", "paint_now", "minimise", "destroy"
  std::wstring text;
  std::wstring caption;
  unsigned style = 0;
  std::vector<recorded_menu_item> items;
};

struct window_double {
  window_double();   // puts itself in place of the platform's calls
  ~window_double();  // and back

  std::vector<recorded_call> calls;
  int box_answer = 1;        // what every box answers (1: OK)
  unsigned menu_choice = 0;  // what every menu answers (0: dismissed)

  // The calls of one kind, in order.
  std::vector<recorded_call> of_kind(const std::string& kind) const;
  // Kinds in order, leaving out repaint requests.
  std::vector<std::string> actions() const;
  void clear() { calls.clear(); }
};
