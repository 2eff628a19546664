// SHA-256 of files, digest text, and the client package test.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trust/manifest.h"

constexpr uint32_t DIGEST_BYTES = 32;
constexpr uint32_t DIGEST_TEXT_UNITS = 65;
constexpr uint32_t HASH_CHUNK_BYTES = 4194304;

// 1 when the SHA-256 of the regular file at path was written. A folder, a link or any other
// reparse point, a device, a pipe or a socket never hashes: for every caller it counts as a
// missing file.
int sha256_file(const wchar_t* path, unsigned char digest[DIGEST_BYTES]);

// The same for a file below a trusted folder, the first folder_length units of path: no
// element after them may be a link or a device name.
int sha256_file_below(const wchar_t* path, size_t folder_length, unsigned char digest[DIGEST_BYTES]);

// One hash object and one read buffer of HASH_CHUNK_BYTES, reused file after file; for one
// thread at a time. Null when it cannot be set up.
struct file_hasher;
file_hasher* create_file_hasher();
void free_file_hasher(file_hasher* hasher);
// What shows that a file is still the one that was hashed: the same file of the same volume (a
// hard link to it is the same file), of the same size, last written at the same moment, and
// with the same last change of any kind, which no writer can put back as it can the write time:
// Linux the inode's change time; Windows the change time and, where the volume keeps a change
// journal, the file's last update sequence number (USN).
struct file_identity {
  uint64_t volume;
  uint64_t file;
  uint64_t size;
  uint64_t written;
  uint64_t changed;   // change time
  uint64_t sequence;  // Windows: the USN, 0 without a change journal; Linux: 0
  int taken;          // 0: no identity
};
int same_file_identity(const file_identity* a, const file_identity* b);
// The same but for the change time and USN, which a new hard link to the file changes too.
int same_file_but_links(const file_identity* a, const file_identity* b);

// A hash vouches for a file's identity only when the file's time stamps lie further back than
// this before the hash began: a write in the same tick of a coarse clock (2 s on FAT) could
// leave them as they were.
constexpr uint64_t STAMP_GRANULARITY_MS = 2000;

// sha256_file_below with the hasher's hash object and buffer. When identity is not null it
// gets the identity of the file hashed, read from the open file after its last byte; it is not
// taken (taken 0) when a time stamp lies within STAMP_GRANULARITY_MS of the hash's start.
int hash_file_below(file_hasher* hasher, const wchar_t* path, size_t folder_length, unsigned char digest[DIGEST_BYTES],
                    file_identity* identity = nullptr);
// The identity of the regular file below the folder, opened as hash_file_below opens it but not
// read: 1 when taken.
int identify_file_below(file_hasher* hasher, const wchar_t* path, size_t folder_length, file_identity* identity);

// 64 lower-case hexadecimal digits and a terminator.
void digest_hex(const unsigned char digest[DIGEST_BYTES], wchar_t text[DIGEST_TEXT_UNITS]);

// 1 when the file has exactly the manifest's package size and digest. The size is checked
// before any byte is read.
int verify_package_file(const wchar_t* path, const release_manifest* manifest);

// The same test for a package whose digest was taken as it was written: 1 when the file has
// exactly the manifest's package size, as many bytes were hashed, and the digest matches.
int package_digest_matches(const wchar_t* path, uint64_t hashed_bytes, const unsigned char digest[DIGEST_BYTES],
                           const release_manifest* manifest);

// SHA-256 of bytes in memory.
int sha256_bytes(const unsigned char* data, uint32_t length, unsigned char digest[DIGEST_BYTES]);
