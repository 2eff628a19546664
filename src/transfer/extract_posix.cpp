// The Linux extraction: libarchive in the launcher, one pass over the archive. libarchive is
// loaded only for the extraction, so that the launcher's every start does not pay for it and
// the libraries it brings.
#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <locale.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>

#include "transfer/platform.h"

namespace {
constexpr size_t ARCHIVE_BLOCK_BYTES = 1048576;
// Never through a link, never above the folder, never an absolute name; times as archived.
constexpr int EXTRACT_FLAGS = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                              ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS;

// The libarchive calls of an extraction, resolved from the library loaded for it.
struct archive_calls {
  void* library = nullptr;
  decltype(&archive_read_new) read_new = nullptr;
  decltype(&archive_read_support_format_zip) support_zip = nullptr;
  decltype(&archive_read_open_filename) open_filename = nullptr;
  decltype(&archive_read_next_header) next_header = nullptr;
  decltype(&archive_read_extract2) extract = nullptr;
  decltype(&archive_read_free) read_free = nullptr;
  decltype(&archive_write_disk_new) disk_new = nullptr;
  decltype(&archive_write_disk_set_options) disk_options = nullptr;
  decltype(&archive_write_close) write_close = nullptr;
  decltype(&archive_write_free) write_free = nullptr;
  decltype(&archive_entry_filetype) filetype = nullptr;
  decltype(&archive_entry_hardlink) hardlink = nullptr;
  decltype(&archive_entry_symlink) symlink = nullptr;
  decltype(&archive_entry_pathname) pathname = nullptr;
  decltype(&archive_entry_perm) perm = nullptr;
  decltype(&archive_entry_set_perm) set_perm = nullptr;

  archive_calls() {
    library = dlopen("libarchive.so.13", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    bool all = resolve(&read_new, "archive_read_new") && resolve(&support_zip, "archive_read_support_format_zip") &&
               resolve(&open_filename, "archive_read_open_filename") &&
               resolve(&next_header, "archive_read_next_header") && resolve(&extract, "archive_read_extract2") &&
               resolve(&read_free, "archive_read_free") && resolve(&disk_new, "archive_write_disk_new") &&
               resolve(&disk_options, "archive_write_disk_set_options") &&
               resolve(&write_close, "archive_write_close") && resolve(&write_free, "archive_write_free") &&
               resolve(&filetype, "archive_entry_filetype") && resolve(&hardlink, "archive_entry_hardlink") &&
               resolve(&symlink, "archive_entry_symlink") && resolve(&pathname, "archive_entry_pathname") &&
               resolve(&perm, "archive_entry_perm") && resolve(&set_perm, "archive_entry_set_perm");
    if (!all) {
      dlclose(library);
      library = nullptr;
    }
  }
  ~archive_calls() {
    if (library != nullptr) dlclose(library);
  }
  archive_calls(const archive_calls&) = delete;
  archive_calls& operator=(const archive_calls&) = delete;

  template <typename call>
  bool resolve(call* slot, const char* name) {
    *slot = reinterpret_cast<call>(dlsym(library, name));
    return *slot != nullptr;
  }
};

// 1 when the entry name stays below the folder it is extracted into.
bool name_stays_inside(const char* name, size_t length) {
  if (length == 0 || name[0] == '/') return false;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || name[i] == '/') {
      if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return false;
      start = i + 1;
    }
  }
  return true;
}

// Only regular files and folders, with names that stay inside. Links, hard links, devices,
// pipes and sockets are refused.
bool entry_allowed(const archive_calls& calls, archive_entry* entry) {
  mode_t type = calls.filetype(entry);
  if ((type != AE_IFREG && type != AE_IFDIR) || calls.hardlink(entry) != nullptr || calls.symlink(entry) != nullptr) {
    return false;
  }
  const char* name = calls.pathname(entry);
  return name != nullptr && name_stays_inside(name, strlen(name));
}

// The mode written is the launcher's, not the archive's: folders the owner may always list and
// enter, files readable, executable only where the archive says so.
void own_mode(const archive_calls& calls, archive_entry* entry) {
  bool searchable = calls.filetype(entry) == AE_IFDIR || (calls.perm(entry) & 0111) != 0;
  calls.set_perm(entry, searchable ? 0755 : 0644);
}

// libarchive turns entry names into the thread's character set: UTF-8 for this thread only,
// whatever the process's locale, so that names arrive as the archive wrote them.
struct utf8_names {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  locale_t saved = utf8 != nullptr ? uselocale(utf8) : nullptr;
  ~utf8_names() {
    if (utf8 == nullptr) return;
    uselocale(saved);
    freelocale(utf8);
  }
};

bool expand_entries(const archive_calls& calls, archive* reader, archive* writer) {
  for (;;) {
    archive_entry* entry = nullptr;
    int read = calls.next_header(reader, &entry);
    if (read == ARCHIVE_EOF) return true;
    if (read != ARCHIVE_OK || !entry_allowed(calls, entry)) return false;
    own_mode(calls, entry);
    if (calls.extract(reader, entry, writer) != ARCHIVE_OK) return false;
  }
}
}  // namespace

// libarchive refuses absolute names, so the names stay relative and the staging folder becomes
// the working folder of this thread alone (its own file-system context), never of the
// launcher's other threads.
bool expand_zip(const char* package, int staging) {
  archive_calls calls;
  if (calls.library == nullptr) return false;
  utf8_names names;
  archive* reader = calls.read_new();
  archive* writer = calls.disk_new();
  bool ok = reader != nullptr && writer != nullptr && calls.support_zip(reader) == ARCHIVE_OK &&
            calls.disk_options(writer, EXTRACT_FLAGS) == ARCHIVE_OK &&
            calls.open_filename(reader, package, ARCHIVE_BLOCK_BYTES) == ARCHIVE_OK;
  int saved_folder = ok ? open(".", O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
  ok = ok && saved_folder >= 0 && unshare(CLONE_FS) == 0 && fchdir(staging) == 0;
  ok = ok && expand_entries(calls, reader, writer);
  // Folder times and modes are set when the writer closes.
  if (writer != nullptr && calls.write_close(writer) != ARCHIVE_OK) ok = false;
  if (saved_folder >= 0) {
    if (fchdir(saved_folder) != 0) ok = false;
    close(saved_folder);
  }
  if (writer != nullptr) calls.write_free(writer);
  if (reader != nullptr) calls.read_free(reader);
  return ok;
}
