// A program for the activation tests, copied into client folders and started from there.
//   client_helper wait READY         stays in its own folder (current directory) until ended
//   client_helper hold FOLDER READY  holds the folder open without delete sharing until ended
// Each writes READY once it is in place, and ends by itself after 60 seconds at the latest.
#include <windows.h>

#include <string>

static const DWORD k_lifetime_ms = 60000;

static void mark_ready(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"wait" && argc == 3) {
    wchar_t own[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH * 4);
    std::wstring folder(own, length);
    folder.resize(folder.find_last_of(L'\\'));
    if (!SetCurrentDirectoryW(folder.c_str())) return 3;
    mark_ready(argv[2]);
    Sleep(k_lifetime_ms);
    return 0;
  }
  if (mode == L"hold" && argc == 4) {
    HANDLE folder = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return 3;
    mark_ready(argv[3]);
    Sleep(k_lifetime_ms);
    CloseHandle(folder);
    return 0;
  }
  return 2;
}
