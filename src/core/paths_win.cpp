#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "core/paths.h"
#include "core/system_path_win.h"

const wchar_t k_installed_launcher_name[] = L"Vorna380-Launcher.exe";
const wchar_t k_launcher_update_name[] = L"Vorna380-Launcher.update.exe";
const wchar_t k_previous_launcher_name[] = L"Vorna380-Launcher.previous.exe";

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
  return opened_as(handle, true) && by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}
}  // namespace

// The folders on the way to the last file opened, each opened as itself and held without
// delete sharing, so that none can be renamed or replaced by a link while it is held. The
// next file of the same folders opens only what differs.
struct folder_walk {
  wchar_t* text;  // the path whose folders are held
  size_t checked_from;
  size_t* ends;  // where each held folder's path ends in text
  HANDLE* held;
  size_t count;
};

folder_walk* create_folder_walk() {
  folder_walk* walk = static_cast<folder_walk*>(calloc(1, sizeof(folder_walk)));
  if (walk == nullptr) return nullptr;
  walk->text = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  // A path of 32,767 units has at most 16,384 elements.
  walk->ends = static_cast<size_t*>(malloc(PATH_UNITS / 2 * sizeof(size_t)));
  walk->held = static_cast<HANDLE*>(malloc(PATH_UNITS / 2 * sizeof(HANDLE)));
  if (walk->text == nullptr || walk->ends == nullptr || walk->held == nullptr) {
    free_folder_walk(walk);
    return nullptr;
  }
  return walk;
}

namespace {
void release_from(folder_walk* walk, size_t keep) {
  while (walk->count > keep) CloseHandle(walk->held[--walk->count]);
}

// Holds every folder of path after checked_from; *last_start is where its last element begins.
bool hold_folders(folder_walk* walk, const wchar_t* path, size_t units, size_t checked_from, size_t* last_start) {
  size_t keep = 0;
  if (walk->count > 0 && walk->checked_from == checked_from) {
    size_t same = 0;
    while (same < units && path[same] == walk->text[same]) ++same;
    while (keep < walk->count && walk->ends[keep] <= same && is_path_separator(path[walk->ends[keep]])) ++keep;
  }
  release_from(walk, keep);
  walk->checked_from = checked_from;
  wmemcpy(walk->text, path, units + 1);
  size_t start = keep > 0 ? walk->ends[keep - 1] + 1 : checked_from;
  for (size_t i = start; i < units; ++i) {
    if (!is_path_separator(path[i])) continue;
    if (i > start) {
      walk->text[i] = L'\0';
      HANDLE folder = CreateFileW(walk->text, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      bool good = folder != INVALID_HANDLE_VALUE && opened_as_folder(folder, walk->text);
      walk->text[i] = path[i];
      if (folder != INVALID_HANDLE_VALUE) {
        walk->ends[walk->count] = i;
        walk->held[walk->count++] = folder;
      }
      if (!good) {
        release_from(walk, 0);  // nothing half-checked stays held
        return false;
      }
    }
    start = i + 1;
  }
  *last_start = start;
  return true;
}
}  // namespace

void free_folder_walk(folder_walk* walk) {
  if (walk == nullptr) return;
  if (walk->held != nullptr) release_from(walk, 0);  // null only when creation failed
  free(walk->held);
  free(walk->ends);
  free(walk->text);
  free(walk);
}

int is_regular_file_handle(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK && opened_as(file, false); }

HANDLE open_regular_below(const wchar_t* path, size_t checked_from, DWORD flags, folder_walk* walk) {
  size_t units = wcslen(path);
  if (checked_from > units || units >= PATH_UNITS || has_device_name(path, checked_from)) {
    return INVALID_HANDLE_VALUE;
  }
  folder_walk* own = walk == nullptr ? create_folder_walk() : nullptr;
  if (walk == nullptr && own == nullptr) return INVALID_HANDLE_VALUE;
  size_t last_start = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (hold_folders(walk != nullptr ? walk : own, path, units, checked_from, &last_start) && last_start < units) {
    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
  }
  if (file != INVALID_HANDLE_VALUE && !is_regular_file_handle(file)) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  free_folder_walk(own);
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
