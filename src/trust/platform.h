// What each platform half of the release trust supplies to its portable files, besides the
// public operations of digest.h and signature.h.
#pragma once

#include <cstddef>
#include <cstdint>

// The size of the regular file at path (opened as sha256_file opens it); 0 when it cannot be
// opened or queried.
int query_file_size(const wchar_t* path, uint64_t* size);

// 1 when signature (signature_length bytes) is a PKCS #1 v1.5 signature of the 32-byte SHA-256
// digest under the public key in the 411-byte RSAPUBLICBLOB key_blob.
int verify_digest_signature(const unsigned char digest[32], const unsigned char* signature, uint32_t signature_length,
                            const unsigned char* key_blob);

// The system clock: seconds since 1970-01-01T00:00:00Z, leap seconds not counted.
int64_t now_utc_seconds();
