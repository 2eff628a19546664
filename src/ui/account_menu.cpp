#include "ui/account_menu.h"

#include "core/text.h"

void build_account_menu(account_menu* menu) {
  if (!vault_enumerate(&menu->accounts)) menu->accounts = {0, nullptr, nullptr};
  uint32_t count = menu->accounts.count;
  menu->listed = count < ACCOUNT_MENU_LIMIT ? count : ACCOUNT_MENU_LIMIT;
  int n = 0;
  for (unsigned i = 0; i < menu->listed; ++i) {
    const wchar_t* name = menu->accounts.user_names[i];
    unsigned flags = equal_ignoring_case(name, g_selected_account) ? MENU_CHECKED : 0;
    menu->items[n++] = {IDM_ACCOUNT_BASE + i, name, flags};
  }
  if (count == 0) menu->items[n++] = {IDM_NO_ACCOUNT, L"Aucun compte enregistre", MENU_GRAYED};
  menu->items[n++] = {0, nullptr, MENU_SEPARATOR};
  menu->items[n++] = {IDM_ADD_ACCOUNT, L"Ajouter un compte...", 0};
  if (g_selected_account[0] != L'\0') menu->items[n++] = {IDM_REMOVE_ACCOUNT, L"Retirer le compte selectionne", 0};
  menu->item_count = n;
}

void run_account_menu_command(window_handle owner, const account_menu* menu, unsigned id) {
  if (id >= IDM_ACCOUNT_BASE && id < IDM_ACCOUNT_BASE + menu->listed) {
    select_account(menu->accounts.user_names[id - IDM_ACCOUNT_BASE]);
  } else if (id == IDM_ADD_ACCOUNT) {
    add_account_dialog(owner);
  } else if (id == IDM_REMOVE_ACCOUNT) {
    remove_selected_account();
  }
}

void release_account_menu(account_menu* menu) {
  vault_list_release(&menu->accounts);
  menu->accounts = {0, nullptr, nullptr};
  menu->listed = 0;
  menu->item_count = 0;
}

void show_account_menu(window_handle owner) {
  account_menu menu = {};
  build_account_menu(&menu);
  unsigned chosen = g_window_calls->popup_menu(menu.items, menu.item_count);
  run_account_menu_command(owner, &menu, chosen);
  release_account_menu(&menu);
  g_window_calls->invalidate();
}
