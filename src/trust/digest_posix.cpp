#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/system_path_posix.h"
#include "trust/digest.h"

namespace {
// Opens a regular file that is not a symbolic link; -1 otherwise.
int open_regular_file(const wchar_t* path) {
  utf8_path native(path);
  if (!native.ok()) return -1;
  struct stat info;
  if (lstat(native.text, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  int fd = open(native.text, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  // The path may have been swapped between the two calls; judge what was opened.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}
}  // namespace

int sha256_file(const wchar_t* path, unsigned char digest[DIGEST_BYTES]) {
  int fd = open_regular_file(path);
  if (fd < 0) return 0;
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  unsigned char* buffer = static_cast<unsigned char*>(malloc(HASH_CHUNK_BYTES));
  EVP_MD_CTX* hash = EVP_MD_CTX_new();
  int result = 0;
  if (buffer != nullptr && hash != nullptr && EVP_DigestInit_ex(hash, EVP_sha256(), nullptr) == 1) {
    bool ok = true;
    for (;;) {
      ssize_t got = read(fd, buffer, HASH_CHUNK_BYTES);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;  // a failed read refuses the file rather than hash part of it
      if (got <= 0) break;
      if (EVP_DigestUpdate(hash, buffer, static_cast<size_t>(got)) != 1) {
        ok = false;
        break;
      }
    }
    unsigned int length = 0;
    result = ok && EVP_DigestFinal_ex(hash, digest, &length) == 1 && length == DIGEST_BYTES;
  }
  free(buffer);
  close(fd);
  EVP_MD_CTX_free(hash);
  return result;
}

int query_file_size(const wchar_t* path, uint64_t* size) {
  utf8_path native(path);
  if (!native.ok()) return 0;
  int fd = open(native.text, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat info;
  int ok = fstat(fd, &info) == 0 && info.st_size >= 0;
  if (ok) *size = static_cast<uint64_t>(info.st_size);
  close(fd);
  return ok;
}

int sha256_bytes(const unsigned char* data, uint32_t length, unsigned char digest[DIGEST_BYTES]) {
  unsigned int written = 0;
  return EVP_Digest(data, length, digest, &written, EVP_sha256(), nullptr) == 1 && written == DIGEST_BYTES;
}

int is_plain_file(const wchar_t* path) {
  utf8_path native(path);
  struct stat info;
  return native.ok() && lstat(native.text, &info) == 0 && S_ISREG(info.st_mode);
}
