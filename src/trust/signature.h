// The detached signature over a release manifest, checked against the release keys built in
// from the release profile: its release key and, while keys are being rotated, the next one.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t SIGNATURE_LIMIT = 4096;
constexpr uint32_t SIGNATURE_BYTES = 384;

// 1 when signature is a 384-byte RSASSA-PKCS1-v1_5 SHA-256 signature of the data under any
// of the built-in release keys.
int verify_release_signature(const unsigned char* data, uint32_t data_length, const unsigned char* signature,
                             uint32_t signature_length);

// The built-in release keys: 1, or 2 when the profile names a next key (index 1).
size_t release_key_count();

// The 411-byte RSAPUBLICBLOB form of the built-in release key at index.
constexpr size_t RELEASE_KEY_BLOB_BYTES = 411;
void build_release_key_blob(size_t index, unsigned char blob[RELEASE_KEY_BLOB_BYTES]);
// 1 when the blob's key can be an RSA-3072 key worth checking against: an odd exponent of at
// least 3 (under an exponent of 1 a "signature" made without any key verifies) and an odd
// modulus with its top bit set. Other keys are never used, whatever the build holds.
int release_key_blob_sound(const unsigned char blob[RELEASE_KEY_BLOB_BYTES]);
