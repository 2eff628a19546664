#include "accounts/accounts.h"

#include "accounts/bridge.h"
#include "accounts/vault.h"
#include "accounts/wipe.h"
#include "core/journal.h"
#include "core/text.h"

wchar_t g_selected_account[ACCOUNT_NAME_UNITS];

namespace {
const wchar_t k_add_refused[] = L"Ajout de compte annule ou refuse par Windows.";
}  // namespace

// Every queueing first wipes what an earlier play left: a selection that is empty or cannot be
// read leaves nothing for the game to fetch.
int queue_selected_account() {
  clear_bridge_queue();
  if (g_selected_account[0] == L'\0') return 1;
  wchar_t target[ACCOUNT_TARGET_UNITS];
  account_target(g_selected_account, target);
  vault_credential credential;
  if (!vault_read(target, &credential)) return 0;
  int fits = credential.blob_size < PASSWORD_BLOB_LIMIT;
  if (fits) queue_account(credential.user_name, credential.blob, credential.blob_size);
  vault_release(&credential);
  return fits;
}

void select_account(const wchar_t* login) {
  copy_text(g_selected_account, ACCOUNT_NAME_UNITS, login);
  save_selected_account();
}

void remove_selected_account() {
  if (g_selected_account[0] == L'\0') return;
  delete_account(g_selected_account);
  select_account(L"");
}

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

int delete_all_accounts() {
  vault_list list = {};
  if (!vault_enumerate(&list)) return 0;
  for (uint32_t i = 0; i < list.count; ++i) delete_account(list.user_names[i]);
  vault_list_release(&list);
  vault_list left = {};
  int none = vault_enumerate(&left) && left.count == 0;
  vault_list_release(&left);
  return none;
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
  if (!result) write_log(k_add_refused);
  return result;
}
