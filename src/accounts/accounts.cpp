#include "accounts/accounts.h"

#include "accounts/account_menu.h"
#include "accounts/bridge.h"
#include "accounts/wipe.h"
#include "core/journal.h"
#include "core/text.h"

wchar_t g_selected_account[ACCOUNT_NAME_UNITS];

namespace {
const wchar_t k_add_refused[] = L"Ajout de compte annule ou refuse par Windows.";

void select_account(const wchar_t* login) {
  copy_text(g_selected_account, ACCOUNT_NAME_UNITS, login);
  save_selected_account();
}
}  // namespace

void account_target(const wchar_t* login, wchar_t target[ACCOUNT_TARGET_UNITS]) {
  target[0] = L'\0';
  text_builder builder{target, ACCOUNT_TARGET_UNITS, 0};
  builder_append(&builder, L"Vorna380/account/");
  builder_append(&builder, login);
  target[ACCOUNT_TARGET_UNITS - 1] = L'\0';
}

void delete_account(const wchar_t* login) {
  wchar_t target[ACCOUNT_TARGET_UNITS];
  account_target(login, target);
  vault_delete(target);
  forget_queued_account(login);
}

int store_new_account(const wchar_t* login, const wchar_t* password) {
  if (login[0] == L'\0' || password[0] == L'\0') return 0;
  wchar_t target[ACCOUNT_TARGET_UNITS];
  account_target(login, target);
  if (!vault_write(target, login, password)) return 0;
  select_account(login);
  return 1;
}

int add_account_dialog(window_handle owner) {
  wchar_t login[ACCOUNT_NAME_UNITS] = {};
  wchar_t password[ACCOUNT_NAME_UNITS] = {};
  int result = 0;
  if (prompt_account_credentials(owner, login, password)) result = store_new_account(login, password);
  wipe_memory(password, sizeof password);
  return result;
}

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
    if (!add_account_dialog(owner)) write_log(k_add_refused);
  } else if (id == IDM_REMOVE_ACCOUNT && g_selected_account[0] != L'\0') {
    delete_account(g_selected_account);
    select_account(L"");
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
