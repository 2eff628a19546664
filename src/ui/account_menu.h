// The accounts pop-up menu in two halves around the window's pop-up menu: the items built from
// the vault, and the command carried out. show_account_menu joins them.
#pragma once

#include "accounts/accounts.h"
#include "accounts/vault.h"
#include "core/paths.h"
#include "ui/window_calls.h"

struct account_menu {
  vault_list accounts;
  unsigned listed;  // accounts shown: at most ACCOUNT_MENU_LIMIT
  menu_item items[ACCOUNT_MENU_LIMIT + 4];
  int item_count;
};

// Enumerates the vault and lays out the items: the accounts (the selected one checked, ignoring
// case), "Aucun compte enregistre" when there are none, a separator, "Ajouter un compte..." and,
// with a selection, "Retirer le compte selectionne".
void build_account_menu(account_menu* menu);
// Carries out the chosen identifier (0 and unknown identifiers do nothing).
void run_account_menu_command(window_handle owner, const account_menu* menu, unsigned id);
void release_account_menu(account_menu* menu);
// Shows the accounts menu at the pointer and carries out the chosen command.
void show_account_menu(window_handle owner);
