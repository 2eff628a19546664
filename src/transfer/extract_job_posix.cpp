// The Linux extraction job, done in the launcher itself: the staging folder emptied and made
// again, then one pass over the zip archive with libarchive. An entry is refused before
// anything is written for it when it is not a regular file or a folder or its name is
// absolute or climbs out with ".."; its data is copied by the launcher and stopped at the size
// the archive declares. libarchive is loaded only for the extraction, so that the launcher's
// every start does not pay for it and the libraries it brings.
#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <locale.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/journal.h"
#include "core/paths.h"
#include "core/system_path_posix.h"
#include "core/text.h"
#include "transfer/jobs_posix.h"

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
  decltype(&archive_read_data) read_data = nullptr;
  decltype(&archive_write_header) write_header = nullptr;
  decltype(&archive_write_data) write_data = nullptr;
  decltype(&archive_write_finish_entry) finish_entry = nullptr;
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
  decltype(&archive_entry_size) size = nullptr;
  decltype(&archive_entry_size_is_set) size_is_set = nullptr;

  archive_calls() {
    library = dlopen("libarchive.so.13", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    bool all = resolve(&read_new, "archive_read_new") && resolve(&support_zip, "archive_read_support_format_zip") &&
               resolve(&open_filename, "archive_read_open_filename") &&
               resolve(&next_header, "archive_read_next_header") && resolve(&read_data, "archive_read_data") &&
               resolve(&write_header, "archive_write_header") && resolve(&write_data, "archive_write_data") &&
               resolve(&finish_entry, "archive_write_finish_entry") && resolve(&size, "archive_entry_size") &&
               resolve(&size_is_set, "archive_entry_size_is_set") &&
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

// Copies the entry's data to the open disk entry, at most the size it declares: the data of
// an entry that goes on past it is not written, and the entry fails.
unsigned long copy_entry_data(const archive_calls& calls, archive* reader, archive* writer, archive_entry* entry,
                              char* block) {
  if (calls.filetype(entry) != AE_IFREG) return EXTRACT_DONE;
  if (!calls.size_is_set(entry) || calls.size(entry) < 0) return EXTRACT_ENTRY_UNWRITTEN;
  uint64_t declared = static_cast<uint64_t>(calls.size(entry));
  uint64_t copied = 0;
  for (;;) {
    la_ssize_t got = calls.read_data(reader, block, ARCHIVE_BLOCK_BYTES);
    if (got == 0) return copied == declared ? EXTRACT_DONE : EXTRACT_ENTRY_UNWRITTEN;
    if (got < 0) return EXTRACT_ENTRY_UNWRITTEN;
    if (static_cast<uint64_t>(got) > declared - copied) return EXTRACT_ENTRY_OVERSIZED;
    if (calls.write_data(writer, block, static_cast<size_t>(got)) != got) return EXTRACT_ENTRY_UNWRITTEN;
    copied += static_cast<uint64_t>(got);
  }
}

// Every entry in turn until the first that fails: its exit code, and its name in failed_entry
// (UTF-8, to free).
unsigned long expand_entries(const archive_calls& calls, archive* reader, archive* writer, char** failed_entry) {
  char* block = static_cast<char*>(malloc(ARCHIVE_BLOCK_BYTES));
  unsigned long code = block != nullptr ? EXTRACT_DONE : EXTRACT_ENTRY_UNWRITTEN;
  while (code == EXTRACT_DONE) {
    archive_entry* entry = nullptr;
    int read = calls.next_header(reader, &entry);
    if (read == ARCHIVE_EOF) break;
    if (read != ARCHIVE_OK) {
      code = EXTRACT_ARCHIVE_UNREADABLE;
      break;
    }
    if (!entry_allowed(calls, entry)) {
      code = EXTRACT_ENTRY_REFUSED;
    } else {
      own_mode(calls, entry);
      code = calls.write_header(writer, entry) == ARCHIVE_OK ? copy_entry_data(calls, reader, writer, entry, block)
                                                             : EXTRACT_ENTRY_UNWRITTEN;
      if (calls.finish_entry(writer) != ARCHIVE_OK && code == EXTRACT_DONE) code = EXTRACT_ENTRY_UNWRITTEN;
    }
    const char* name = calls.pathname(entry);
    if (code != EXTRACT_DONE && name != nullptr) *failed_entry = strdup(name);
  }
  free(block);
  return code;
}

int remove_entry(const char* path, const struct stat*, int type, struct FTW*) {
  return type == FTW_DP ? rmdir(path) : unlink(path);
}

// Removes what is at path, a folder with everything in it; links are removed, never followed.
bool remove_tree(const char* path) {
  struct stat info;
  if (lstat(path, &info) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return unlink(path) == 0;
  return nftw(path, remove_entry, 32, FTW_DEPTH | FTW_PHYS) == 0;
}

bool make_folder_chain(const char* path) {
  char* text = strdup(path);
  if (text == nullptr) return false;
  for (char* at = text + 1; *at != '\0'; ++at) {
    if (*at != '/') continue;
    *at = '\0';
    mkdir(text, 0755);
    *at = '/';
  }
  mkdir(text, 0755);
  free(text);
  struct stat info;
  return lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// bsdtar reads many archive formats; the package must be a zip archive, as the Windows job
// requires: its first bytes are a local file header, or the end record of an empty archive.
// 1 when it is, 0 when it is not, -1 when it cannot be read.
int starts_as_zip(const wchar_t* package) {
  int fd = open_regular_below(package, folder_part_length(package));
  if (fd < 0) return -1;
  unsigned char head[4];
  ssize_t got;
  do {
    got = read(fd, head, sizeof head);
  } while (got < 0 && errno == EINTR);
  close(fd);
  return got == 4 && head[0] == 'P' && head[1] == 'K' &&
         ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6));
}

// libarchive refuses absolute names, so the names stay relative and the staging folder becomes
// the working folder of this thread alone (its own file-system context), never of the
// launcher's other threads. Its exit code, and the failing entry's name (to free) where one
// failed.
unsigned long expand_zip(const char* package, int staging, char** failed_entry) {
  archive_calls calls;
  if (calls.library == nullptr) return EXTRACT_ARCHIVE_UNREADABLE;
  utf8_names names;
  archive* reader = calls.read_new();
  archive* writer = calls.disk_new();
  bool opened = reader != nullptr && writer != nullptr && calls.support_zip(reader) == ARCHIVE_OK &&
                calls.disk_options(writer, EXTRACT_FLAGS) == ARCHIVE_OK &&
                calls.open_filename(reader, package, ARCHIVE_BLOCK_BYTES) == ARCHIVE_OK;
  unsigned long code = opened ? EXTRACT_DONE : EXTRACT_ARCHIVE_UNREADABLE;
  int saved_folder = opened ? open(".", O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
  if (opened && (saved_folder < 0 || unshare(CLONE_FS) != 0 || fchdir(staging) != 0)) {
    code = EXTRACT_STAGING_UNUSABLE;
  }
  if (code == EXTRACT_DONE) code = expand_entries(calls, reader, writer, failed_entry);
  // Folder times and modes are set when the writer closes.
  if (writer != nullptr && calls.write_close(writer) != ARCHIVE_OK && code == EXTRACT_DONE) {
    code = EXTRACT_ENTRY_UNWRITTEN;
  }
  if (saved_folder >= 0) {
    if (fchdir(saved_folder) != 0 && code == EXTRACT_DONE) code = EXTRACT_STAGING_UNUSABLE;
    close(saved_folder);
  }
  if (writer != nullptr) calls.write_free(writer);
  if (reader != nullptr) calls.read_free(reader);
  return code;
}
}  // namespace

int run_extract_job(const job_parameters* job) {
  utf8_path package(job->package);
  utf8_path staging(job->staging);
  if (!package.ok() || !staging.ok()) return finish_child(1);
  int zip = starts_as_zip(job->package);
  if (zip == 0) write_log(L"Archive refusee: le package ne commence pas par la signature zip.");
  if (zip != 1) return finish_extraction(EXTRACT_ARCHIVE_UNREADABLE, nullptr);
  if (!remove_tree(staging.text) || !make_folder_chain(staging.text)) {
    return finish_extraction(EXTRACT_STAGING_UNUSABLE, nullptr);
  }
  int folder = open(staging.text, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return finish_extraction(EXTRACT_STAGING_UNUSABLE, nullptr);
  char* failed = nullptr;
  unsigned long code = expand_zip(package.text, folder, &failed);
  close(folder);
  wchar_t* name = nullptr;
  if (failed != nullptr) {
    size_t bytes = strlen(failed);
    name = static_cast<wchar_t*>(malloc((bytes + 1) * sizeof(wchar_t)));
    if (name != nullptr) name[utf8_to_wide(failed, bytes, name, bytes + 1)] = L'\0';
  }
  int result = finish_extraction(code, name != nullptr && name[0] != L'\0' ? name : nullptr);
  free(name);
  free(failed);
  return result;
}
