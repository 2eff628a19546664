// What the window needs from the accounts: the selected account, the accounts menu, the add
// dialog, handing the account to the game and starting it.
#pragma once

#include <cstddef>

#include "core/paths.h"

constexpr size_t ACCOUNT_NAME_UNITS = 256;
constexpr size_t ACCOUNT_TARGET_UNITS = 512;

// Accounts menu commands.
constexpr unsigned IDM_NO_ACCOUNT = 3899;
constexpr unsigned IDM_ADD_ACCOUNT = 3900;
constexpr unsigned IDM_REMOVE_ACCOUNT = 3901;
constexpr unsigned IDM_ACCOUNT_BASE = 4000;

// The selected login; empty when none is selected. UI thread only.
extern wchar_t g_selected_account[ACCOUNT_NAME_UNITS];

// "Vorna380/account/<login>", cut to 511 units.
void account_target(const wchar_t* login, wchar_t target[ACCOUNT_TARGET_UNITS]);
// Shows the accounts menu at the pointer and carries out the chosen command.
void show_account_menu(window_handle owner);
// Nonzero when an account was added and selected.
int add_account_dialog(window_handle owner);
// Writes the selection to "selected-account.txt".
void save_selected_account();
// Deletes the vault entry of the login (failures ignored).
void delete_account(const wchar_t* login);
// Hands the selected account to the game bridge; 0 when it cannot be read from the vault.
int queue_selected_account();
// Starts the game from the client folder; 0 when it could not be started.
int launch_game();
