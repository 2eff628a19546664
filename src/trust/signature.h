// The detached signature over a release manifest, checked against the built-in release key.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t SIGNATURE_LIMIT = 4096;
constexpr uint32_t SIGNATURE_BYTES = 384;

// 1 when signature is a 384-byte RSASSA-PKCS1-v1_5 SHA-256 signature of the data under the
// built-in release key.
int verify_release_signature(const unsigned char* data, uint32_t data_length, const unsigned char* signature,
                             uint32_t signature_length);

// The 411-byte RSAPUBLICBLOB form of the release key.
constexpr size_t RELEASE_KEY_BLOB_BYTES = 411;
void build_release_key_blob(unsigned char blob[RELEASE_KEY_BLOB_BYTES]);
