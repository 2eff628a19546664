// Stand-in for the credential vault, the account bridge and the game launch until they are
// built: the vault holds no account, so the menu lists none, nothing can be added, and only
// "no account selected" can be handed to the game.
#include <cstddef>

#include "accounts/accounts.h"
#include "core/journal.h"
#include "ui/window.h"

void show_account_menu(window_handle owner) {
  (void)owner;
  menu_item items[4];
  int count = 0;
  items[count++] = {IDM_NO_ACCOUNT, L"Aucun compte enregistre", MENU_GRAYED};
  items[count++] = {0, nullptr, MENU_SEPARATOR};
  items[count++] = {IDM_ADD_ACCOUNT, L"Ajouter un compte...", 0};
  if (g_selected_account[0] != L'\0') items[count++] = {IDM_REMOVE_ACCOUNT, L"Retirer le compte selectionne", 0};
  unsigned chosen = g_window_calls->popup_menu(items, count);
  if (chosen == IDM_ADD_ACCOUNT) {
    if (!add_account_dialog(owner)) write_log(L"Ajout de compte annule ou refuse par Windows.");
  } else if (chosen == IDM_REMOVE_ACCOUNT && g_selected_account[0] != L'\0') {
    delete_account(g_selected_account);
    g_selected_account[0] = L'\0';
    save_selected_account();
  }
  g_window_calls->invalidate();
}

int add_account_dialog(window_handle) { return 0; }

void save_selected_account() {}

void delete_account(const wchar_t*) {}

int queue_selected_account() { return g_selected_account[0] == L'\0'; }

int launch_game() { return 0; }
