// Platform pieces of the accounts tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Locks the vault the way a user or the system would (false where it cannot be).
bool lock_vault();
bool selection_file_is_hidden(const std::wstring& path);
// Every regular file below the folder.
std::vector<std::wstring> files_under(const std::wstring& folder);
// Lets the file be run as a program (nothing to do on Windows).
bool make_executable(const std::wstring& path);
