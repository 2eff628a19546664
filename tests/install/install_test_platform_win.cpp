#include <windows.h>

#include "install_test_platform.h"
#include "support/test_support.h"

const int k_activation_ending = 1604;
const int k_crash_ending = 9;

bool copy_helper(const std::wstring& destination) {
  return CopyFileW(CLIENT_HELPER_PATH, destination.c_str(), FALSE) != 0;
}

static bool wait_for_file(intptr_t program, const std::wstring& ready_file) {
  for (int i = 0; program != 0 && i < 2000; ++i) {
    if (file_exists(ready_file)) return true;
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(program), 10) == WAIT_OBJECT_0) return false;
  }
  return false;
}

intptr_t start_waiting_helper(const std::wstring& helper, const std::wstring& ready_file) {
  intptr_t program = start_program({helper, L"wait", ready_file});
  if (program != 0 && !wait_for_file(program, ready_file)) {
    wait_program(program, 0);
    return 0;
  }
  return program;
}

uint32_t program_id(intptr_t program) { return GetProcessId(reinterpret_cast<HANDLE>(program)); }

int program_ending(intptr_t* program, unsigned wait_ms) {
  HANDLE process = reinterpret_cast<HANDLE>(*program);
  if (WaitForSingleObject(process, wait_ms) != WAIT_OBJECT_0) return k_still_running;
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  *program = 0;
  return static_cast<int>(code);
}

int end_program_now(intptr_t* program) {
  TerminateProcess(reinterpret_cast<HANDLE>(*program), 7);
  return program_ending(program, 10000);
}

program_guard::~program_guard() {
  if (program != 0) wait_program(program, 0);
}

busy_folder::busy_folder(const std::wstring& folder) : path(folder) {
  std::wstring ready = join(make_temp_dir(), L"held");
  handle = start_program({CLIENT_HELPER_PATH, L"hold", folder, ready});
  held = wait_for_file(handle, ready);
  remove_tree(ready.substr(0, ready.size() - 5));
}
busy_folder::~busy_folder() { release(); }
void busy_folder::release() {
  if (handle != 0) wait_program(handle, 0);
  handle = 0;
  held = false;
}

bool set_read_only(const std::wstring& path) { return SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0; }

std::vector<std::wstring> folder_names(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

intptr_t start_program_with_id(const std::vector<std::wstring>&, uint32_t) { return 0; }
