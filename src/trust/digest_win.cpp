#include <windows.h>
#include <bcrypt.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>

#include "core/paths.h"
#include "core/system_path_win.h"
#include "trust/digest.h"

namespace {
// One SHA-256 provider for the whole process, opened at first use and kept until it ends.
BCRYPT_ALG_HANDLE g_sha256_provider = nullptr;
INIT_ONCE g_sha256_once = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK open_provider(PINIT_ONCE, PVOID, PVOID*) {
  return BCryptOpenAlgorithmProvider(&g_sha256_provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0;
}

BCRYPT_ALG_HANDLE sha256_provider() {
  return InitOnceExecuteOnce(&g_sha256_once, open_provider, nullptr, nullptr) ? g_sha256_provider : nullptr;
}
}  // namespace

struct file_hasher {
  BCRYPT_HASH_HANDLE hash;  // reusable: each finish starts it over
  bool reusable;            // Windows 7 knows no reusable hash; there each file gets its own
  unsigned char* buffer;
  folder_walk* walk;  // the folders of the last file, kept for the next one
};

file_hasher* create_file_hasher() {
  BCRYPT_ALG_HANDLE provider = sha256_provider();
  if (provider == nullptr) return nullptr;
  file_hasher* hasher = static_cast<file_hasher*>(calloc(1, sizeof(file_hasher)));
  if (hasher == nullptr) return nullptr;
  hasher->buffer = static_cast<unsigned char*>(malloc(HASH_CHUNK_BYTES));
  hasher->walk = create_folder_walk();
  if (hasher->buffer == nullptr || hasher->walk == nullptr) {
    free_file_hasher(hasher);
    return nullptr;
  }
  hasher->reusable = BCryptCreateHash(provider, &hasher->hash, nullptr, 0, nullptr, 0, BCRYPT_HASH_REUSABLE_FLAG) >= 0;
  if (!hasher->reusable) hasher->hash = nullptr;
  return hasher;
}

void free_file_hasher(file_hasher* hasher) {
  if (hasher == nullptr) return;
  if (hasher->hash != nullptr) BCryptDestroyHash(hasher->hash);
  free_folder_walk(hasher->walk);
  free(hasher->buffer);
  free(hasher);
}

namespace {
uint64_t file_time(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The file's last update sequence number in its volume's change journal: it only grows, and no
// writer can set it back. 0 where the volume keeps no journal.
uint64_t last_usn(HANDLE file) {
  union {
    USN_RECORD record;
    unsigned char bytes[sizeof(USN_RECORD) + MAX_PATH * sizeof(WCHAR)];
  } data;
  DWORD returned = 0;
  if (!DeviceIoControl(file, FSCTL_READ_FILE_USN_DATA, nullptr, 0, &data, sizeof data, &returned, nullptr) ||
      returned < sizeof(USN_RECORD)) {
    return 0;
  }
  return static_cast<uint64_t>(data.record.Usn);
}

int identify_open_file(HANDLE file, file_identity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandle(file, &information) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    return 0;
  }
  identity->volume = information.dwVolumeSerialNumber;
  identity->file = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  identity->size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  identity->written = file_time(information.ftLastWriteTime);
  identity->changed = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
  identity->sequence = last_usn(file);
  identity->taken = 1;
  return 1;
}
}  // namespace

int identify_file_below(file_hasher* hasher, const wchar_t* path, size_t folder_length, file_identity* identity) {
  identity->taken = 0;
  HANDLE file = open_regular_below(path, folder_length, 0, hasher->walk);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int result = identify_open_file(file, identity);
  CloseHandle(file);
  return result;
}

int hash_file_below(file_hasher* hasher, const wchar_t* path, size_t folder_length, unsigned char digest[DIGEST_BYTES],
                    file_identity* identity) {
  if (identity != nullptr) identity->taken = 0;
  FILETIME start;
  GetSystemTimeAsFileTime(&start);
  HANDLE file = open_regular_below(path, folder_length, FILE_FLAG_SEQUENTIAL_SCAN, hasher->walk);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (!hasher->reusable && BCryptCreateHash(sha256_provider(), &hasher->hash, nullptr, 0, nullptr, 0, 0) < 0) {
    hasher->hash = nullptr;
    CloseHandle(file);
    return 0;
  }
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, hasher->buffer, HASH_CHUNK_BYTES, &got, nullptr)) {
      ok = false;  // a failed read refuses the file rather than hash part of it
      break;
    }
    if (got == 0) break;
    if (BCryptHashData(hasher->hash, hasher->buffer, got, 0) < 0) {
      ok = false;
      break;
    }
  }
  if (ok && identity != nullptr) ok = identify_open_file(file, identity);
  uint64_t granularity = STAMP_GRANULARITY_MS * 10000u;  // in 100-ns intervals
  uint64_t started = file_time(start);
  if (ok && identity != nullptr &&
      (identity->written + granularity > started || identity->changed + granularity > started)) {
    identity->taken = 0;
  }
  CloseHandle(file);
  // Finished on every path, so that the next file starts from an empty hash.
  unsigned char result[DIGEST_BYTES];
  ok = BCryptFinishHash(hasher->hash, result, DIGEST_BYTES, 0) >= 0 && ok;
  if (!hasher->reusable) {
    BCryptDestroyHash(hasher->hash);
    hasher->hash = nullptr;
  }
  if (ok) memcpy(digest, result, DIGEST_BYTES);
  return ok;
}

int sha256_bytes(const unsigned char* data, uint32_t length, unsigned char digest[DIGEST_BYTES]) {
  BCRYPT_ALG_HANDLE provider = sha256_provider();
  if (provider == nullptr) return 0;
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS status = BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
  if (status >= 0) status = BCryptHashData(hash, const_cast<PUCHAR>(data), length, 0);
  if (status >= 0) status = BCryptFinishHash(hash, digest, DIGEST_BYTES, 0);
  if (hash != nullptr) BCryptDestroyHash(hash);
  return status >= 0;
}
