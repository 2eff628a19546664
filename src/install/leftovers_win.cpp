#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "core/paths.h"
#include "install/platform.h"

namespace {
// Removes what is at path (attributes as found); a link or junction goes without its target.
// Goes on after a failure; the first error stays in *error.
void remove_below(wchar_t* path, size_t length, DWORD attributes, DWORD* error) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && length + 3 < PATH_UNITS) {
    wcscpy(path + length, L"\\*");
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(path, &found);
    path[length] = L'\0';
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const wchar_t* name = found.cFileName;
        if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
        size_t name_length = wcslen(name);
        if (length + 1 + name_length >= PATH_UNITS) {
          if (*error == 0) *error = ERROR_FILENAME_EXCED_RANGE;
          continue;
        }
        path[length] = L'\\';
        wmemcpy(path + length + 1, name, name_length + 1);
        remove_below(path, length + 1 + name_length, found.dwFileAttributes, error);
        path[length] = L'\0';
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
  }
  BOOL removed = folder ? RemoveDirectoryW(path) : DeleteFileW(path);
  if (!removed && *error == 0) *error = GetLastError();
}
}  // namespace

int remove_tree(const wchar_t* path, uint32_t* error) {
  *error = 0;
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return 1;
    *error = code;
    return 0;
  }
  wchar_t* buffer = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  size_t length = wcslen(path);
  if (buffer == nullptr || length >= PATH_UNITS) {
    free(buffer);
    *error = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  wmemcpy(buffer, path, length + 1);
  DWORD first = 0;
  remove_below(buffer, length, attributes, &first);
  free(buffer);
  *error = first;
  return first == 0;
}

int visit_entries(const wchar_t* folder, const wchar_t* prefix, void (*visit)(const wchar_t* name, void* context),
                  void* context) {
  wchar_t* pattern = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (pattern == nullptr) return 0;
  join_path(pattern, folder, L"*");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern, &found);
  free(pattern);
  if (find == INVALID_HANDLE_VALUE) return 0;
  size_t prefix_length = wcslen(prefix);
  do {
    if (wcsncmp(found.cFileName, prefix, prefix_length) == 0) visit(found.cFileName, context);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return 1;
}
