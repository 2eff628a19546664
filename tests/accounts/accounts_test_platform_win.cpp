#include <windows.h>

#include "accounts_test_platform.h"
#include "support/test_support.h"

// The Credential Manager has no lock of its own.
bool lock_vault() { return false; }

bool selection_file_is_hidden(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

std::vector<std::wstring> files_under(const std::wstring& folder) {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (const auto& inner : files_under(path)) files.push_back(inner);
    } else {
      files.push_back(path);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return files;
}

bool make_executable(const std::wstring&) { return true; }

