#include "trust/signature.h"

#include <cstdlib>
#include <cstring>

#include "release_profile.h"
#include "trust/digest.h"
#include "trust/platform.h"

size_t release_key_count() { return VORNA380_RELEASE_KEY_COUNT; }

void build_release_key_blob(size_t index, unsigned char blob[RELEASE_KEY_BLOB_BYTES]) {
  memset(blob, 0, RELEASE_KEY_BLOB_BYTES);
  const uint32_t exponent_bytes = sizeof k_release_key_exponents[0];
  const uint32_t modulus_bytes = sizeof k_release_key_moduli[0];
  const uint32_t header[6] = {0x31415352 /* "RSA1" */, 3072, exponent_bytes, modulus_bytes, 0, 0};
  for (int field = 0; field < 6; ++field) {
    for (int byte = 0; byte < 4; ++byte)
      blob[field * 4 + byte] = static_cast<unsigned char>(header[field] >> (8 * byte));
  }
  memcpy(blob + 24, k_release_key_exponents[index], exponent_bytes);
  memcpy(blob + 27, k_release_key_moduli[index], modulus_bytes);
}

int release_key_blob_sound(const unsigned char blob[RELEASE_KEY_BLOB_BYTES]) {
  const unsigned char* exponent = blob + 24;
  const unsigned char* modulus = blob + 27;
  const uint32_t value = (uint32_t{exponent[0]} << 16) | (uint32_t{exponent[1]} << 8) | exponent[2];
  return value >= 3 && (value & 1) != 0 && (modulus[0] & 0x80) != 0 && (modulus[383] & 1) != 0;
}

int verify_release_signature(const unsigned char* data, uint32_t data_length, const unsigned char* signature,
                             uint32_t signature_length) {
  if (signature_length != SIGNATURE_BYTES) return 0;
  unsigned char digest[DIGEST_BYTES];
  if (!sha256_bytes(data, data_length, digest)) return 0;
  unsigned char* blob = static_cast<unsigned char*>(calloc(1, RELEASE_KEY_BLOB_BYTES));
  if (blob == nullptr) return 0;
  // The manifest is trusted when any built-in key verifies its signature.
  int result = 0;
  for (size_t index = 0; index < release_key_count() && !result; ++index) {
    build_release_key_blob(index, blob);
    if (release_key_blob_sound(blob)) result = verify_digest_signature(digest, signature, signature_length, blob);
  }
  free(blob);
  return result;
}
