#include "trust/signature.h"

#include <cstring>

#include "release_profile.h"

void build_release_key_blob(unsigned char blob[RELEASE_KEY_BLOB_BYTES]) {
  memset(blob, 0, RELEASE_KEY_BLOB_BYTES);
  const uint32_t header[6] = {0x31415352 /* "RSA1" */, 3072, sizeof k_release_key_exponent,
                              sizeof k_release_key_modulus, 0, 0};
  for (int field = 0; field < 6; ++field) {
    for (int byte = 0; byte < 4; ++byte) blob[field * 4 + byte] = static_cast<unsigned char>(header[field] >> (8 * byte));
  }
  memcpy(blob + 24, k_release_key_exponent, sizeof k_release_key_exponent);
  memcpy(blob + 27, k_release_key_modulus, sizeof k_release_key_modulus);
}
