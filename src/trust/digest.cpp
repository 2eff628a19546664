#include "trust/digest.h"

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"

int sha256_file_below(const wchar_t* path, size_t folder_length, unsigned char digest[DIGEST_BYTES]) {
  file_hasher* hasher = create_file_hasher();
  if (hasher == nullptr) return 0;
  int result = hash_file_below(hasher, path, folder_length, digest);
  free_file_hasher(hasher);
  return result;
}

int sha256_file(const wchar_t* path, unsigned char digest[DIGEST_BYTES]) {
  return sha256_file_below(path, folder_part_length(path), digest);
}

int same_file_but_links(const file_identity* a, const file_identity* b) {
  return a->taken && b->taken && a->volume == b->volume && a->file == b->file && a->size == b->size &&
         a->written == b->written;
}

int same_file_identity(const file_identity* a, const file_identity* b) {
  return same_file_but_links(a, b) && a->changed == b->changed && a->sequence == b->sequence;
}

void digest_hex(const unsigned char digest[DIGEST_BYTES], wchar_t text[DIGEST_TEXT_UNITS]) {
  static const wchar_t k_digits[] = L"0123456789abcdef";
  for (uint32_t i = 0; i < DIGEST_BYTES; ++i) {
    text[2 * i] = k_digits[digest[i] >> 4];
    text[2 * i + 1] = k_digits[digest[i] & 0x0F];
  }
  text[64] = L'\0';
}

int package_digest_matches(const wchar_t* path, uint64_t hashed_bytes, const unsigned char digest[DIGEST_BYTES],
                           const release_manifest* manifest) {
  uint64_t size = 0;
  if (!os_file_size(path, &size) || size != manifest->package_size || hashed_bytes != size) return 0;
  wchar_t text[DIGEST_TEXT_UNITS];
  digest_hex(digest, text);
  return equal_ignoring_case(text, manifest->package_sha256);
}

int verify_package_file(const wchar_t* path, const release_manifest* manifest) {
  uint64_t size = 0;
  if (!os_file_size(path, &size) || size != manifest->package_size) return 0;
  unsigned char digest[DIGEST_BYTES];
  if (!sha256_file(path, digest)) return 0;
  return package_digest_matches(path, size, digest, manifest);
}
