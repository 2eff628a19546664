// The credential vault, the credential dialog and the accounts menu as each platform provides
// them: the Windows Credential Manager and dialogs, or the Secret Service and GTK on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/paths.h"

// A password is passed to the vault as the UTF-16LE form of the text, without terminator.
constexpr uint32_t PASSWORD_BLOB_LIMIT = 512;  // a blob this large or larger cannot be played

// Writes (or replaces) the entry of the target with the user name login and the password.
// Nonzero on success.
int vault_write(const wchar_t* target, const wchar_t* login, const wchar_t* password);

// One entry read back. The blob is the stored password bytes; vault_release wipes it.
struct vault_credential {
  const wchar_t* user_name;
  const unsigned char* blob;
  uint32_t blob_size;
  void* platform;
};
// Nonzero when the entry of the target exists and could be read.
int vault_read(const wchar_t* target, vault_credential* credential);
void vault_release(vault_credential* credential);

// The user names of the launcher's entries ("Vorna380/account/*"), in the vault's order.
struct vault_list {
  uint32_t count;
  const wchar_t** user_names;
  void* platform;
};
// Nonzero when the vault could be enumerated; the count may then still be 0.
int vault_enumerate(vault_list* list);
// Safe on a list that was never filled (all zero).
void vault_list_release(vault_list* list);

// Nonzero when an entry was deleted.
int vault_delete(const wchar_t* target);

// The system's credential dialog; login and password are buffers of 256 units. Nonzero when
// the player confirmed (the fields may still be empty).
int prompt_account_credentials(window_handle owner, wchar_t* login, wchar_t* password);

// One entry of the accounts pop-up menu.
constexpr unsigned ACCOUNT_ITEM_CHECKED = 1;
constexpr unsigned ACCOUNT_ITEM_GRAYED = 2;
constexpr unsigned ACCOUNT_ITEM_SEPARATOR = 4;
struct account_menu_item {
  unsigned id;
  const wchar_t* text;
  unsigned flags;
};
// Shows the items as a pop-up menu at the pointer; the chosen identifier, 0 when dismissed.
unsigned popup_account_menu(window_handle owner, const account_menu_item* items, int count);
