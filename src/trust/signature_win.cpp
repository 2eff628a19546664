#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>

#include "trust/digest.h"
#include "trust/signature.h"


int verify_release_signature(const unsigned char* data, uint32_t data_length, const unsigned char* signature,
                             uint32_t signature_length) {
  if (signature_length != SIGNATURE_BYTES) return 0;
  unsigned char digest[32];
  if (!sha256_bytes(data, data_length, digest)) return 0;

  unsigned char* blob = static_cast<unsigned char*>(calloc(1, RELEASE_KEY_BLOB_BYTES));
  if (blob == nullptr) return 0;
  build_release_key_blob(blob);

  int result = 0;
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  if (BCryptOpenAlgorithmProvider(&provider, BCRYPT_RSA_ALGORITHM, nullptr, 0) >= 0 &&
      BCryptImportKeyPair(provider, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, blob, RELEASE_KEY_BLOB_BYTES, 0) >= 0) {
    BCRYPT_PKCS1_PADDING_INFO padding = {BCRYPT_SHA256_ALGORITHM};
    NTSTATUS status = BCryptVerifySignature(key, &padding, digest, sizeof digest, const_cast<PUCHAR>(signature),
                                            signature_length, BCRYPT_PAD_PKCS1);
    result = status >= 0;
  }
  if (key != nullptr) BCryptDestroyKey(key);
  if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
  free(blob);
  return result;
}
