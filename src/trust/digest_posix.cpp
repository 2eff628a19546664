#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/paths.h"
#include "core/system_path_posix.h"
#include "trust/digest.h"

struct file_hasher {
  EVP_MD* sha256;
  EVP_MD_CTX* context;
  unsigned char* buffer;
};

file_hasher* create_file_hasher() {
  file_hasher* hasher = static_cast<file_hasher*>(calloc(1, sizeof(file_hasher)));
  if (hasher == nullptr) return nullptr;
  // Fetched once, so that starting a file costs no look-up.
  hasher->sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  hasher->context = EVP_MD_CTX_new();
  hasher->buffer = static_cast<unsigned char*>(malloc(HASH_CHUNK_BYTES));
  if (hasher->sha256 == nullptr || hasher->context == nullptr || hasher->buffer == nullptr) {
    free_file_hasher(hasher);
    return nullptr;
  }
  return hasher;
}

void free_file_hasher(file_hasher* hasher) {
  if (hasher == nullptr) return;
  free(hasher->buffer);
  EVP_MD_CTX_free(hasher->context);
  EVP_MD_free(hasher->sha256);
  free(hasher);
}

int hash_file_below(file_hasher* hasher, const wchar_t* path, size_t folder_length,
                    unsigned char digest[DIGEST_BYTES]) {
  int fd = open_regular_below(path, folder_length);
  if (fd < 0) return 0;
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  int result = 0;
  if (EVP_DigestInit_ex2(hasher->context, hasher->sha256, nullptr) == 1) {
    bool ok = true;
    for (;;) {
      ssize_t got = read(fd, hasher->buffer, HASH_CHUNK_BYTES);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;  // a failed read refuses the file rather than hash part of it
      if (got <= 0) break;
      if (EVP_DigestUpdate(hasher->context, hasher->buffer, static_cast<size_t>(got)) != 1) {
        ok = false;
        break;
      }
    }
    unsigned int length = 0;
    result = ok && EVP_DigestFinal_ex(hasher->context, digest, &length) == 1 && length == DIGEST_BYTES;
  }
  close(fd);
  return result;
}

int sha256_bytes(const unsigned char* data, uint32_t length, unsigned char digest[DIGEST_BYTES]) {
  unsigned int written = 0;
  return EVP_Digest(data, length, digest, &written, EVP_sha256(), nullptr) == 1 && written == DIGEST_BYTES;
}
