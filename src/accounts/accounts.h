// What the window and the start-up need from the accounts: the selected account, the accounts
// menu, the add dialog, handing the account to the game and starting it.
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
constexpr unsigned ACCOUNT_MENU_LIMIT = 50;

// The selected login; empty when none is selected. UI thread only.
extern wchar_t g_selected_account[ACCOUNT_NAME_UNITS];

// "Vorna380/account/<login>", cut to 511 units.
void account_target(const wchar_t* login, wchar_t target[ACCOUNT_TARGET_UNITS]);
// Asks for a login and a password and stores them; nonzero when an account was written and
// selected, 0 when cancelled, empty or refused by the vault (journalled).
int add_account_dialog(window_handle owner);
// What the add dialog does with what the player typed: an empty field writes nothing; otherwise
// the entry is written and, when the vault took it, selected and saved. Nonzero on success.
int store_new_account(const wchar_t* login, const wchar_t* password);
// Selects the login (empty: none) and saves the selection.
void select_account(const wchar_t* login);
// Deletes the selected account's vault entry and clears the selection (nothing when none).
void remove_selected_account();
// Writes the selection to "selected-account.txt" in g_root; failures are silent.
void save_selected_account();
// Reads "selected-account.txt" into g_selected_account (empty when it cannot be read).
void load_selected_account();
// Deletes the vault entry of the login (failures ignored) and wipes it from the bridge's queue.
void delete_account(const wchar_t* login);
// Deletes every account of the launcher from the vault: 1 when none is left.
int delete_all_accounts();

// Queues the selected account's login and password for the bridge in place of anything queued
// before; 1 when queued or when nothing is selected (the queue is then empty), 0 when the
// account cannot be read from the vault or its password is too long. Call right before
// launch_game.
int queue_selected_account();
// Starts "Tarvo.exe" from the client folder; 1 when started (status posted), 0 otherwise (the
// bridge's queue is then wiped).
int launch_game();

// Start-up: the bridge's lock, stop signal and thread (a bridge that cannot start is not
// reported). Shutdown: stop it, wait at most 2 s, wipe the queued password.
void start_account_bridge();
void stop_account_bridge();
