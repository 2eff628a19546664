#include "accounts_fixture.h"

#include "ui/account_menu.h"
#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts/platform.h"
#include "accounts/utf16le.h"
#include "accounts/vault.h"
#include "core/paths.h"
#include "core/text.h"

std::vector<std::wstring> launcher_accounts() {
  std::vector<std::wstring> names;
  vault_list list;
  if (!vault_enumerate(&list)) return names;
  for (uint32_t i = 0; i < list.count; ++i) names.push_back(list.user_names[i]);
  vault_list_release(&list);
  return names;
}

void clear_launcher_accounts() {
  for (const std::wstring& login : launcher_accounts()) delete_account(login.c_str());
}

bool put_account(const std::wstring& login, const std::wstring& password) {
  wchar_t target[ACCOUNT_TARGET_UNITS];
  account_target(login.c_str(), target);
  return vault_write(target, login.c_str(), password.c_str()) != 0;
}

std::string stored_blob(const std::wstring& login) {
  wchar_t target[ACCOUNT_TARGET_UNITS];
  account_target(login.c_str(), target);
  vault_credential credential;
  if (!vault_read(target, &credential)) return {};
  std::string blob(reinterpret_cast<const char*>(credential.blob), credential.blob_size);
  vault_release(&credential);
  return blob;
}

std::string utf16le(const std::wstring& text) {
  std::string bytes(text.size() * 4, '\0');
  bytes.resize(text_to_utf16le(text.data(), text.size(), reinterpret_cast<unsigned char*>(bytes.data()), bytes.size()));
  return bytes;
}

bool pending_password_is_wiped() {
  enter_bridge_lock();
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(g_pending_password);
  bool zero = true;
  for (size_t i = 0; i < sizeof g_pending_password; ++i) zero = zero && bytes[i] == 0;
  leave_bridge_lock();
  return zero;
}

bool bridge_queue_is_empty() {
  enter_bridge_lock();
  bool empty = g_pending_account == 0;
  for (size_t i = 0; i < PENDING_UNITS; ++i) empty = empty && g_pending_login[i] == 0 && g_pending_password[i] == 0;
  leave_bridge_lock();
  return empty;
}

void AccountsTest::SetUp() {
  saved_root = g_root;
  saved_client = g_client;
  copy_text(g_root, PATH_UNITS, dir.path.c_str());
  copy_text(g_client, PATH_UNITS, (dir / L"Client").c_str());
  g_selected_account[0] = L'\0';
  clear_launcher_accounts();
  ASSERT_TRUE(launcher_accounts().empty()) << "the vault could not be emptied";
}

void AccountsTest::TearDown() {
  clear_launcher_accounts();
  g_selected_account[0] = L'\0';
  copy_text(g_root, PATH_UNITS, saved_root.c_str());
  copy_text(g_client, PATH_UNITS, saved_client.c_str());
}

void expect_vault_unavailable() {
  wchar_t target[ACCOUNT_TARGET_UNITS];
  account_target(L"avant", target);
  EXPECT_FALSE(put_account(L"nouveau", L"pw"));
  vault_list list;
  EXPECT_EQ(vault_enumerate(&list), 0);
  vault_list_release(&list);
  vault_credential credential;
  EXPECT_EQ(vault_read(target, &credential), 0);
  EXPECT_EQ(vault_delete(target), 0);

  copy_text(g_selected_account, ACCOUNT_NAME_UNITS, L"avant");
  EXPECT_EQ(store_new_account(L"nouveau", L"pw"), 0) << "the add dialog's part";
  EXPECT_STREQ(g_selected_account, L"avant");
  EXPECT_EQ(queue_selected_account(), 0) << "play shows its message";
  account_menu menu = {};
  build_account_menu(&menu);
  ASSERT_EQ(menu.item_count, 4);
  EXPECT_EQ(menu.items[0].id, IDM_NO_ACCOUNT);
  EXPECT_EQ(menu.items[3].id, IDM_REMOVE_ACCOUNT);
  release_account_menu(&menu);
}
