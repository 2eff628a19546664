#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>

#include "trust/digest.h"

int is_plain_file(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

int sha256_bytes(const unsigned char* data, uint32_t length, unsigned char digest[DIGEST_BYTES]) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (status >= 0) status = BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
  if (status >= 0) status = BCryptHashData(hash, const_cast<PUCHAR>(data), length, 0);
  if (status >= 0) status = BCryptFinishHash(hash, digest, DIGEST_BYTES, 0);
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
  return status >= 0;
}

int sha256_file(const wchar_t* path, unsigned char digest[DIGEST_BYTES]) {
  if (!is_plain_file(path)) return 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  unsigned char* buffer = static_cast<unsigned char*>(malloc(HASH_CHUNK_BYTES));
  if (buffer == nullptr) {
    CloseHandle(file);
    return 0;
  }
  int result = 0;
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
      BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) >= 0) {
    bool ok = true;
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, buffer, HASH_CHUNK_BYTES, &got, nullptr)) {
        ok = false;  // a failed read refuses the file rather than hash part of it
        break;
      }
      if (got == 0) break;
      if (BCryptHashData(hash, buffer, got, 0) < 0) {
        ok = false;
        break;
      }
    }
    result = ok && BCryptFinishHash(hash, digest, DIGEST_BYTES, 0) >= 0;
  }
  free(buffer);
  CloseHandle(file);
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
  return result;
}

int query_file_size(const wchar_t* path, uint64_t* size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER value;
  int ok = GetFileSizeEx(file, &value) && value.QuadPart >= 0;
  if (ok) *size = static_cast<uint64_t>(value.QuadPart);
  CloseHandle(file);
  return ok;
}
