#include "accounts/selection.h"

#include <cwchar>

#include "accounts/accounts.h"
#include "accounts/utf16le.h"

namespace {
void selection_path(wchar_t* path) { join_path(path, g_root, L"selected-account.txt"); }
}  // namespace

void save_selected_account() {
  static wchar_t path[PATH_UNITS];
  selection_path(path);
  unsigned char bytes[ACCOUNT_NAME_UNITS * 4];
  size_t count = text_to_utf16le(g_selected_account, wcslen(g_selected_account), bytes, sizeof bytes);
  write_selection_file(path, bytes, count);
}

void load_selected_account() {
  static wchar_t path[PATH_UNITS];
  g_selected_account[0] = L'\0';
  selection_path(path);
  unsigned char bytes[SELECTION_READ_LIMIT];
  long count = read_selection_file(path, bytes, sizeof bytes);
  if (count <= 0) return;
  utf16le_to_text(bytes, static_cast<size_t>(count), g_selected_account, ACCOUNT_NAME_UNITS);
  size_t length = wcslen(g_selected_account);
  if (length > 0 && g_selected_account[0] == 0xFEFF) {
    wmemmove(g_selected_account, g_selected_account + 1, length);
    --length;
  }
  while (length > 0) {
    wchar_t last = g_selected_account[length - 1];
    if (last != L'\n' && last != L'\r' && last != L' ') break;
    g_selected_account[--length] = L'\0';
  }
}
