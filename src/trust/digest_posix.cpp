#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cwchar>

#include "core/paths.h"
#include "core/system_path_posix.h"
#include "trust/digest.h"

namespace {
// Below this size the kernel's usual read-ahead already covers the whole file.
constexpr uint64_t SEQUENTIAL_HINT_BYTES = 131072;
constexpr uint64_t NS_PER_S = 1000000000u;

uint64_t stamp_ns(const timespec& time) {
  return static_cast<uint64_t>(time.tv_sec) * NS_PER_S + static_cast<uint64_t>(time.tv_nsec);
}

// The clock the file system stamps files with.
uint64_t now_ns() {
  timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return stamp_ns(now);
}
}  // namespace

// The folder of the last file hashed stays open: the next file of the same folder (the list
// names a folder's files one after another) is opened in it without walking the path again.
struct file_hasher {
  EVP_MD* sha256;
  EVP_MD_CTX* context;
  unsigned char* buffer;
  int folder;            // -1: none kept
  wchar_t* folder_path;  // the path up to its last element, PATH_UNITS units
  size_t folder_units;
};

file_hasher* create_file_hasher() {
  file_hasher* hasher = static_cast<file_hasher*>(calloc(1, sizeof(file_hasher)));
  if (hasher == nullptr) return nullptr;
  hasher->folder = -1;
  // Fetched once, so that starting a file costs no look-up.
  hasher->sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  hasher->context = EVP_MD_CTX_new();
  hasher->buffer = static_cast<unsigned char*>(malloc(HASH_CHUNK_BYTES));
  hasher->folder_path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (hasher->sha256 == nullptr || hasher->context == nullptr || hasher->buffer == nullptr ||
      hasher->folder_path == nullptr) {
    free_file_hasher(hasher);
    return nullptr;
  }
  return hasher;
}

void free_file_hasher(file_hasher* hasher) {
  if (hasher == nullptr) return;
  if (hasher->folder >= 0) close(hasher->folder);
  free(hasher->folder_path);
  free(hasher->buffer);
  EVP_MD_CTX_free(hasher->context);
  EVP_MD_free(hasher->sha256);
  free(hasher);
}

namespace {
// The folder holding the path's last element, checked element by element below the trusted
// folder unless it is the one kept from the previous file.
int folder_for(file_hasher* hasher, const wchar_t* path, size_t folder_length, size_t name_at) {
  if (hasher->folder >= 0 && hasher->folder_units == name_at && wmemcmp(hasher->folder_path, path, name_at) == 0) {
    return hasher->folder;
  }
  if (hasher->folder >= 0) close(hasher->folder);
  hasher->folder = open_folder_below(path, folder_length, name_at);
  if (hasher->folder >= 0 && name_at < PATH_UNITS) {
    wmemcpy(hasher->folder_path, path, name_at);
    hasher->folder_units = name_at;
  } else if (hasher->folder >= 0) {
    close(hasher->folder);
    hasher->folder = -1;
  }
  return hasher->folder;
}

// The regular file at path, as open_regular_below opens it, with its size.
int open_hashed_file(file_hasher* hasher, const wchar_t* path, size_t folder_length, uint64_t* size) {
  size_t units = wcslen(path);
  if (folder_length > units || has_device_name(path, folder_length)) return -1;
  size_t name_at = last_element_at(path, folder_length);
  utf8_path name(path + name_at, units - name_at);
  if (!name.ok()) return -1;
  int folder = folder_for(hasher, path, folder_length, name_at);
  return folder >= 0 ? open_regular_in(folder, name.text, size) : -1;
}
}  // namespace

namespace {
int identify_open_file(int fd, file_identity* identity) {
  struct stat status;
  if (fstat(fd, &status) != 0) return 0;
  identity->volume = static_cast<uint64_t>(status.st_dev);
  identity->file = static_cast<uint64_t>(status.st_ino);
  identity->size = static_cast<uint64_t>(status.st_size);
  identity->written = stamp_ns(status.st_mtim);
  identity->changed = stamp_ns(status.st_ctim);
  identity->sequence = 0;
  identity->taken = 1;
  return 1;
}
}  // namespace

int identify_file_below(file_hasher* hasher, const wchar_t* path, size_t folder_length, file_identity* identity) {
  identity->taken = 0;
  uint64_t size = 0;
  int fd = open_hashed_file(hasher, path, folder_length, &size);
  if (fd < 0) return 0;
  int result = identify_open_file(fd, identity);
  close(fd);
  return result;
}

int hash_file_below(file_hasher* hasher, const wchar_t* path, size_t folder_length, unsigned char digest[DIGEST_BYTES],
                    file_identity* identity) {
  if (identity != nullptr) identity->taken = 0;
  uint64_t started = identity != nullptr ? now_ns() : 0;
  uint64_t size = 0;
  int fd = open_hashed_file(hasher, path, folder_length, &size);
  if (fd < 0) return 0;
  if (size > SEQUENTIAL_HINT_BYTES) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  int result = 0;
  if (EVP_DigestInit_ex2(hasher->context, hasher->sha256, nullptr) == 1) {
    bool ok = true;
    uint64_t done = 0;
    for (;;) {
      ssize_t got = read(fd, hasher->buffer, HASH_CHUNK_BYTES);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;  // a failed read refuses the file rather than hash part of it
      if (got <= 0) break;
      if (EVP_DigestUpdate(hasher->context, hasher->buffer, static_cast<size_t>(got)) != 1) {
        ok = false;
        break;
      }
      done += static_cast<uint64_t>(got);
      // A short read that reaches the size the file had when opened is its end: no read more
      // to be told so.
      if (static_cast<size_t>(got) < HASH_CHUNK_BYTES && done >= size) break;
    }
    unsigned int length = 0;
    result = ok && EVP_DigestFinal_ex(hasher->context, digest, &length) == 1 && length == DIGEST_BYTES;
  }
  if (result && identity != nullptr) result = identify_open_file(fd, identity);
  uint64_t granularity = STAMP_GRANULARITY_MS * 1000000u;
  if (result && identity != nullptr &&
      (identity->written + granularity > started || identity->changed + granularity > started)) {
    identity->taken = 0;
  }
  close(fd);
  return result;
}

int sha256_bytes(const unsigned char* data, uint32_t length, unsigned char digest[DIGEST_BYTES]) {
  unsigned int written = 0;
  return EVP_Digest(data, length, digest, &written, EVP_sha256(), nullptr) == 1 && written == DIGEST_BYTES;
}
