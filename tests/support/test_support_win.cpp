#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "support/test_support.h"

std::wstring make_temp_dir() {
  wchar_t base[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0) return {};
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::wstring path = std::wstring(base) + L"vorna380-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
    if (CreateDirectoryW(path.c_str(), nullptr)) return path;
  }
  return {};
}

void remove_tree(const std::wstring& path) {
  if (path.empty()) return;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") remove_tree(path + L"\\" + name);
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(path.c_str());
  } else {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
}

static bool put(const std::wstring& path, const std::string& bytes, bool append) {
  HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  CloseHandle(file);
  return done == bytes.size();
}

bool write_bytes(const std::wstring& path, const std::string& bytes) { return put(path, bytes, false); }

bool copy_write_time(const std::wstring& from, const std::wstring& to) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(from.c_str(), GetFileExInfoStandard, &data)) return false;
  HANDLE file = CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool set = SetFileTime(file, nullptr, nullptr, &data.ftLastWriteTime) != 0;
  CloseHandle(file);
  return set;
}
bool append_bytes(const std::wstring& path, const std::string& bytes) { return put(path, bytes, true); }

bool make_dirs(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string read_bytes(const std::wstring& path) {
  std::string out;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return out;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(file);
  return out;
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Quotes one argument so that CommandLineToArgvW gives it back unchanged: backslashes are
// doubled where they precede a quote or the closing quote, quotes are escaped.
static void append_quoted(std::wstring& command, const std::wstring& argument) {
  command += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    command.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    command += c;
  }
  command.append(2 * backslashes, L'\\');
  command += L'"';
}

intptr_t start_program(const std::vector<std::wstring>& args) {
  std::wstring command;
  for (const auto& a : args) {
    if (!command.empty()) command += L' ';
    append_quoted(command, a);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(args[0].c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 0;
  }
  CloseHandle(process.hThread);
  return reinterpret_cast<intptr_t>(process.hProcess);
}

int wait_program(intptr_t program, unsigned timeout_ms) {
  HANDLE process = reinterpret_cast<HANDLE>(program);
  if (process == nullptr) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process, &code);
  } else {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    code = static_cast<DWORD>(-1);
  }
  CloseHandle(process);
  return static_cast<int>(code);
}

// A junction: an empty folder given a mount-point reparse point that names the target.
bool make_link(const std::wstring& target, const std::wstring& link) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool made = false;
  if (folder != INVALID_HANDLE_VALUE) {
    // REPARSE_DATA_BUFFER, mount-point form: tag, data length, reserved, then the offsets and
    // lengths of the substitute and print names and the names themselves.
    std::wstring substitute = L"\\??\\" + target;
    std::vector<unsigned char> buffer(8 + 8 + (substitute.size() + 2) * sizeof(wchar_t));
    auto put16 = [&](size_t at, size_t value) {
      buffer[at] = static_cast<unsigned char>(value);
      buffer[at + 1] = static_cast<unsigned char>(value >> 8);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(buffer.data(), &tag, 4);
    put16(4, buffer.size() - 8);
    put16(8, 0);
    put16(10, substitute.size() * sizeof(wchar_t));
    put16(12, (substitute.size() + 1) * sizeof(wchar_t));
    put16(14, 0);
    memcpy(buffer.data() + 16, substitute.c_str(), substitute.size() * sizeof(wchar_t));
    DWORD returned = 0;
    DWORD size = static_cast<DWORD>(buffer.size());
    made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(), size, nullptr, 0, &returned, nullptr) != 0;
    CloseHandle(folder);
  }
  if (!made) RemoveDirectoryW(link.c_str());
  return made;
}

bool make_fifo(const std::wstring&) { return false; }
bool make_socket(const std::wstring&) { return false; }

exclusive_lock::exclusive_lock(const std::wstring& path) {
  handle = reinterpret_cast<intptr_t>(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}
exclusive_lock::~exclusive_lock() {
  if (held()) CloseHandle(reinterpret_cast<HANDLE>(handle));
}
bool exclusive_lock::held() const { return reinterpret_cast<HANDLE>(handle) != INVALID_HANDLE_VALUE; }

void set_variable(const std::wstring& name, const std::wstring& value) {
  SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
}

std::wstring get_variable(const std::wstring& name) {
  std::vector<wchar_t> value(32768);
  DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
  return length > 0 && length < value.size() ? std::wstring(value.data(), length) : std::wstring();
}

bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const wchar_t* system_error_label() { return L"erreur Windows"; }
