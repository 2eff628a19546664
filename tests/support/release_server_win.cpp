#include <windows.h>

#include "support/release_server.h"
#include "support/test_support.h"

bool link_or_copy_tree(const std::wstring& from, const std::wstring& to) {
  DWORD attributes = GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return CreateHardLinkW(to.c_str(), from.c_str(), nullptr) || CopyFileW(from.c_str(), to.c_str(), FALSE);
  }
  if (!make_dirs(to)) return false;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") ok = link_or_copy_tree(from + L"\\" + name, to + L"\\" + name) && ok;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return ok;
}
