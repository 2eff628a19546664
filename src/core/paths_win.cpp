#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "core/paths.h"
#include "core/system_path_win.h"

int ensure_directory(const wchar_t* path) {
  int result = SHCreateDirectoryExW(nullptr, path, nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS) return 1;
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

namespace {
// Judged on the open handle.
bool opened_as(HANDLE handle, bool folder) {
  FILE_ATTRIBUTE_TAG_INFO info;
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) return false;
  DWORD attributes = info.FileAttributes;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

// A folder is also judged by the attributes of its path, because Wine shows a folder link made
// on the Linux side there only. While its handle is held without delete sharing the folder
// cannot be renamed or replaced, so both describe the same folder.
bool opened_as_folder(HANDLE handle, const wchar_t* path) {
  DWORD by_path = GetFileAttributesW(path);
  return opened_as(handle, true) && by_path != INVALID_FILE_ATTRIBUTES &&
         (by_path & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Opens each folder on the way as itself and keeps it open, so that none of them can be
// swapped for a link before the file at the end is opened.
struct folder_chain {
  wchar_t* prefix = nullptr;
  HANDLE* held = nullptr;
  size_t count = 0;

  ~folder_chain() {
    for (size_t i = 0; i < count; ++i) CloseHandle(held[i]);
    free(held);
    free(prefix);
  }

  bool hold(const wchar_t* path, size_t units, size_t from, size_t* last_start) {
    size_t separators = 0;
    for (size_t i = from; i < units; ++i) separators += is_path_separator(path[i]);
    prefix = static_cast<wchar_t*>(malloc((units + 1) * sizeof(wchar_t)));
    held = static_cast<HANDLE*>(malloc((separators + 1) * sizeof(HANDLE)));
    if (prefix == nullptr || held == nullptr) return false;
    wmemcpy(prefix, path, units + 1);
    size_t start = from;
    for (size_t i = from; i < units; ++i) {
      if (!is_path_separator(path[i])) continue;
      if (i > start) {
        prefix[i] = L'\0';
        HANDLE folder = CreateFileW(prefix, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
        if (folder == INVALID_HANDLE_VALUE) return false;
        held[count++] = folder;
        if (!opened_as_folder(folder, prefix)) return false;
        prefix[i] = path[i];
      }
      start = i + 1;
    }
    *last_start = start;
    return true;
  }
};
}  // namespace

int is_regular_file_handle(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK && opened_as(file, false); }

HANDLE open_regular_below(const wchar_t* path, size_t checked_from, DWORD flags) {
  size_t units = wcslen(path);
  if (checked_from > units || has_device_name(path, checked_from)) return INVALID_HANDLE_VALUE;
  folder_chain chain;
  size_t last_start = 0;
  if (!chain.hold(path, units, checked_from, &last_start) || last_start >= units) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
  if (file != INVALID_HANDLE_VALUE && !is_regular_file_handle(file)) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return file;
}

char* read_file(const wchar_t* path, uint32_t limit, uint32_t* length) {
  HANDLE file = open_regular_below(path, folder_part_length(path), 0);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  // size + 1 must not wrap where size_t is 32 bits wide.
  uint64_t largest = limit;
  if (largest > SIZE_MAX - 1) largest = SIZE_MAX - 1;
  char* buffer = nullptr;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && static_cast<uint64_t>(size.QuadPart) <= largest) {
    DWORD wanted = static_cast<DWORD>(size.QuadPart);
    buffer = static_cast<char*>(malloc(static_cast<size_t>(wanted) + 1));
    DWORD got = 0;
    if (buffer != nullptr && ReadFile(file, buffer, wanted, &got, nullptr) && got == wanted) {
      buffer[wanted] = '\0';
      *length = wanted;
    } else {
      free(buffer);
      buffer = nullptr;
    }
  }
  CloseHandle(file);
  return buffer;
}
