#include "window_double.h"

namespace {
window_double* g_double = nullptr;

void record(const char* kind) { g_double->calls.push_back({kind, {}, {}, 0, {}}); }

int double_box(const wchar_t* text, const wchar_t* caption, unsigned style) {
  g_double->calls.push_back({"box", text, caption, style, {}});
  return g_double->box_answer;
}

unsigned double_menu(const menu_item* items, int count) {
  recorded_call call{"menu", {}, {}, 0, {}};
  for (int i = 0; i < count; ++i) {
    call.items.push_back({items[i].id, items[i].text != nullptr ? items[i].text : L"", items[i].flags});
  }
  g_double->calls.push_back(call);
  return g_double->menu_choice;
}

void double_invalidate() { record("invalidate"); }
void double_paint_now() { record("paint_now"); }
void double_minimise() { record("minimise"); }
void double_destroy() { record("destroy"); }

const window_calls k_double_calls = {double_box,       double_menu,     double_invalidate,
                                     double_paint_now, double_minimise, double_destroy};
}  // namespace

window_double::window_double() {
  g_double = this;
  g_window_calls = &k_double_calls;
}

window_double::~window_double() {
  g_window_calls = &k_platform_window_calls;
  g_double = nullptr;
}

std::vector<recorded_call> window_double::of_kind(const std::string& kind) const {
  std::vector<recorded_call> found;
  for (const auto& call : calls) {
    if (call.kind == kind) found.push_back(call);
  }
  return found;
}

std::vector<std::string> window_double::actions() const {
  std::vector<std::string> kinds;
  for (const auto& call : calls) {
    if (call.kind != "invalidate") kinds.push_back(call.kind);
  }
  return kinds;
}
