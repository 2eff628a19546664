#include <dirent.h>
#include <errno.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/paths.h"
#include "core/system_path_posix.h"
#include "core/text.h"
#include "install/platform.h"

namespace {
// nftw passes no context: the first error of the walk under way (the install worker's only).
thread_local int t_first_error = 0;

void note(int failed) {
  if (failed && t_first_error == 0) t_first_error = errno != 0 ? errno : EIO;
}

// Folders first: made writable and searchable by their owner, so that what is inside can go.
int open_folder(const char* path, const struct stat* info, int type, struct FTW*) {
  if (type == FTW_D && (info->st_mode & 0700) != 0700) note(chmod(path, info->st_mode | 0700) != 0);
  return 0;
}

int remove_entry(const char* path, const struct stat*, int type, struct FTW*) {
  note((type == FTW_DP ? rmdir(path) : unlink(path)) != 0);
  return 0;  // go on: as much as possible goes, the first error is kept
}
}  // namespace

int remove_tree(const wchar_t* path, uint32_t* error) {
  utf8_path native(path);
  *error = 0;
  if (!native.ok()) {
    *error = EINVAL;
    return 0;
  }
  struct stat info;
  if (lstat(native.text, &info) != 0) {
    if (errno == ENOENT) return 1;
    *error = static_cast<uint32_t>(errno);
    return 0;
  }
  t_first_error = 0;
  if (!S_ISDIR(info.st_mode)) {
    note(unlink(native.text) != 0);
  } else {
    note(nftw(native.text, open_folder, 32, FTW_PHYS) != 0);
    note(nftw(native.text, remove_entry, 32, FTW_DEPTH | FTW_PHYS) != 0);
  }
  *error = static_cast<uint32_t>(t_first_error);
  return t_first_error == 0;
}

int visit_entries(const wchar_t* folder, const wchar_t* prefix, void (*visit)(const wchar_t* name, void* context),
                  void* context) {
  utf8_path native(folder);
  utf8_path start(prefix);
  DIR* listing = native.ok() && start.ok() ? opendir(native.text) : nullptr;
  if (listing == nullptr) return 0;
  size_t start_bytes = strlen(start.text);
  wchar_t* name = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  for (dirent* entry = name != nullptr ? readdir(listing) : nullptr; entry != nullptr; entry = readdir(listing)) {
    if (strncmp(entry->d_name, start.text, start_bytes) != 0) continue;
    size_t units = utf8_to_wide(entry->d_name, strlen(entry->d_name), name, PATH_UNITS - 1);
    if (units == 0) continue;
    name[units] = L'\0';
    visit(name, context);
  }
  int read = name != nullptr;
  free(name);
  closedir(listing);
  return read;
}
