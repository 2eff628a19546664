// SHA-256 of files, digest text, and the client package test.
#pragma once

#include <cstdint>

#include "trust/manifest.h"

constexpr uint32_t DIGEST_BYTES = 32;
constexpr uint32_t DIGEST_TEXT_UNITS = 65;
constexpr uint32_t HASH_CHUNK_BYTES = 4194304;

// 1 when the SHA-256 of the regular file at path was written. Directories, links and
// other reparse points never hash.
int sha256_file(const wchar_t* path, unsigned char digest[DIGEST_BYTES]);

// 64 lower-case hexadecimal digits and a terminator.
void digest_hex(const unsigned char digest[DIGEST_BYTES], wchar_t text[DIGEST_TEXT_UNITS]);

// 1 when the file has exactly the manifest's package size and digest. The size is checked
// before any byte is read.
int verify_package_file(const wchar_t* path, const release_manifest* manifest);

// SHA-256 of bytes in memory.
int sha256_bytes(const unsigned char* data, uint32_t length, unsigned char digest[DIGEST_BYTES]);

// 1 when path names a regular file: not a directory, a link or another reparse point.
int is_plain_file(const wchar_t* path);

// Platform half: the size of the file at path; 0 when it cannot be opened or queried.
int query_file_size(const wchar_t* path, uint64_t* size);
