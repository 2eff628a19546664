#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "support/release_server.h"
#include "support/test_support.h"

bool link_or_copy_tree(const std::wstring& from, const std::wstring& to) {
  std::string source = to_utf8(from);
  struct stat info;
  if (lstat(source.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) {
    return link(source.c_str(), to_utf8(to).c_str()) == 0 || write_bytes(to, read_bytes(from));
  }
  if (!make_dirs(to)) return false;
  DIR* dir = opendir(source.c_str());
  if (dir == nullptr) return false;
  bool ok = true;
  while (dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    std::wstring name = from_utf8(entry->d_name);
    ok = link_or_copy_tree(join(from, name), join(to, name)) && ok;
  }
  closedir(dir);
  return ok;
}
