// Shared set-up of the accounts tests: a launcher root of their own, a journal, and a vault
// that holds no launcher account before and after every test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/journal_lines.h"
#include "support/test_support.h"

// The user names of the launcher's entries, in the vault's order (empty when it cannot be read).
std::vector<std::wstring> launcher_accounts();
// Deletes every launcher entry.
void clear_launcher_accounts();
// Writes the entry of the login directly, as the add dialog would.
bool put_account(const std::wstring& login, const std::wstring& password);
// The password stored for the login, as UTF-16LE bytes; empty when it cannot be read.
std::string stored_blob(const std::wstring& login);
std::string utf16le(const std::wstring& text);
// True when all bytes of the queued password are zero.
bool pending_password_is_wiped();
// True when nothing is queued and the queued login and password are all zero.
bool bridge_queue_is_empty();
// Checks that every vault operation fails at once, and what the player then sees: no account in
// the menu, adding refused, the selected account "avant" not playable.
void expect_vault_unavailable();

class AccountsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::wstring selection_file() const { return dir / L"selected-account.txt"; }

  temp_dir dir;
  journal_capture capture{dir / L"launcher.log"};
  std::wstring saved_root, saved_client;
};
