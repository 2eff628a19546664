#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/paths.h"
#include "core/system_path_posix.h"

const wchar_t k_installed_launcher_name[] = L"vorna380-launcher";
const wchar_t k_launcher_update_name[] = L"vorna380-launcher.update";
const wchar_t k_previous_launcher_name[] = L"vorna380-launcher.previous";

int ensure_directory(const wchar_t* path) {
  utf8_path native(path);
  if (!native.ok()) return 0;
  // Create each missing folder of the chain, from the top down.
  char* text = native.text;
  size_t length = strlen(text);
  int last_error = 0;
  for (size_t i = 1; i <= length; ++i) {
    if (text[i] != '/' && text[i] != '\0') continue;
    char saved = text[i];
    text[i] = '\0';
    last_error = (mkdir(text, 0755) == 0) ? 0 : errno;
    text[i] = saved;
  }
  if (last_error == 0) return 1;
  // Anything already at the path counts, a regular file included.
  struct stat info;
  return lstat(text, &info) == 0;
}

namespace {
// The trusted folder the walk starts from; -1 when it cannot be opened.
int open_start_folder(const wchar_t* path, size_t checked_from) {
  if (checked_from == 0) return path[0] == L'/' ? open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
  utf8_path folder(path, checked_from);
  return folder.ok() ? open(folder.text, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
}
}  // namespace

int open_folder_below(const wchar_t* path, size_t checked_from, size_t end) {
  if (checked_from > end) return -1;
  utf8_path rest(path + checked_from, end - checked_from);
  if (rest.text == nullptr) return -1;
  if (end > checked_from && rest.text[0] == '\0') return -1;  // not convertible
  int folder = open_start_folder(path, checked_from);
  if (folder == -1) return -1;
  if (folder == AT_FDCWD) folder = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  char* element = rest.text;
  while (folder >= 0 && *element != '\0') {
    if (*element == '/') {
      ++element;
      continue;
    }
    char* stop = strchrnul(element, '/');
    char saved = *stop;
    *stop = '\0';
    // An element on the way: a real folder, opened as itself, not through a link.
    int next = openat(folder, element, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (next >= 0 && (fstat(next, &info) != 0 || !S_ISDIR(info.st_mode))) {
      close(next);
      next = -1;
    }
    close(folder);
    folder = next;
    *stop = saved;
    element = stop;
  }
  return folder;
}

int open_regular_in(int folder, const char* name, uint64_t* size) {
  // O_NOFOLLOW refuses a link here; O_NONBLOCK keeps a FIFO from waiting for a writer.
  int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    close(fd);
    return -1;
  }
  if (fd >= 0 && size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  return fd;
}

size_t last_element_at(const wchar_t* path, size_t checked_from) {
  size_t at = checked_from;
  for (size_t i = checked_from; path[i] != L'\0'; ++i) {
    if (path[i] == L'/') at = i + 1;
  }
  return at;
}

int open_regular_below(const wchar_t* path, size_t checked_from) {
  size_t units = wcslen(path);
  if (checked_from > units || has_device_name(path, checked_from)) return -1;
  size_t name_at = last_element_at(path, checked_from);
  utf8_path name(path + name_at, units - name_at);
  if (!name.ok()) return -1;
  int folder = open_folder_below(path, checked_from, name_at);
  if (folder < 0) return -1;
  int fd = open_regular_in(folder, name.text, nullptr);
  close(folder);
  return fd;
}

char* read_file(const wchar_t* path, uint32_t limit, uint32_t* length) {
  int fd = open_regular_below(path, folder_part_length(path));
  if (fd < 0) return nullptr;
  // size + 1 must not wrap where size_t is 32 bits wide.
  uint64_t largest = limit;
  if (largest > SIZE_MAX - 1) largest = SIZE_MAX - 1;
  char* buffer = nullptr;
  struct stat info;
  if (fstat(fd, &info) == 0 && info.st_size > 0 && static_cast<uint64_t>(info.st_size) <= largest) {
    size_t size = static_cast<size_t>(info.st_size);
    buffer = static_cast<char*>(malloc(size + 1));
    size_t done = 0;
    while (buffer != nullptr && done < size) {
      ssize_t got = read(fd, buffer + done, size - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (buffer != nullptr && done == size) {
      buffer[size] = '\0';
      *length = static_cast<uint32_t>(size);
    } else {
      free(buffer);
      buffer = nullptr;
    }
  }
  close(fd);
  return buffer;
}

char* find_program(const char* name) {
  const char* folders = getenv("PATH");
  if (folders == nullptr || name[0] == '\0' || strchr(name, '/') != nullptr) return nullptr;
  size_t name_length = strlen(name);
  for (const char* at = folders;; ++at) {
    const char* end = strchrnul(at, ':');
    size_t length = static_cast<size_t>(end - at);
    if (length > 0 && at[0] == '/') {
      char* candidate = static_cast<char*>(malloc(length + 1 + name_length + 1));
      if (candidate == nullptr) return nullptr;
      memcpy(candidate, at, length);
      candidate[length] = '/';
      memcpy(candidate + length + 1, name, name_length + 1);
      struct stat info;
      if (stat(candidate, &info) == 0 && S_ISREG(info.st_mode) && access(candidate, X_OK) == 0) return candidate;
      free(candidate);
    }
    if (*end == '\0') return nullptr;
    at = end;
  }
}
