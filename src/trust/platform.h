// What each platform half of the release trust supplies to its portable files, besides the
// public operations of digest.h and signature.h.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 when signature (signature_length bytes) is a PKCS #1 v1.5 signature of the 32-byte SHA-256
// digest under the public key in the 411-byte RSAPUBLICBLOB key_blob.
int verify_digest_signature(const unsigned char digest[32], const unsigned char* signature, uint32_t signature_length,
                            const unsigned char* key_blob);
