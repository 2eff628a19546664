#include "accounts/glib_posix.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "accounts_test_platform.h"
#include "support/test_support.h"

bool lock_vault() {
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
  g_clear_error(&error);
  if (service == nullptr) return false;
  SecretCollection* collection =
      secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
  g_clear_error(&error);
  int locked = 0;
  if (collection != nullptr) {
    GList objects = {collection, nullptr, nullptr};
    locked = secret_service_lock_sync(service, &objects, nullptr, nullptr, &error);
    g_clear_error(&error);
    g_object_unref(collection);
  }
  g_object_unref(service);
  return locked > 0;
}

// Linux has no hidden attribute: the file is readable by its owner only.
bool selection_file_is_hidden(const std::wstring& path) {
  struct stat info;
  return stat(to_utf8(path).c_str(), &info) == 0 && (info.st_mode & 077) == 0;
}

std::vector<std::wstring> files_under(const std::wstring& folder) {
  std::vector<std::wstring> files;
  DIR* dir = opendir(to_utf8(folder).c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::wstring path = join(folder, from_utf8(name));
    struct stat info;
    if (lstat(to_utf8(path).c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      for (const auto& inner : files_under(path)) files.push_back(inner);
    } else if (S_ISREG(info.st_mode)) {
      files.push_back(path);
    }
  }
  closedir(dir);
  return files;
}

bool make_executable(const std::wstring& path) { return chmod(to_utf8(path).c_str(), 0755) == 0; }

