#include <windows.h>
#include <bcrypt.h>

#include "trust/platform.h"
#include "trust/signature.h"

int verify_digest_signature(const unsigned char digest[32], const unsigned char* signature, uint32_t signature_length,
                            const unsigned char* key_blob) {
  int result = 0;
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  if (BCryptOpenAlgorithmProvider(&provider, BCRYPT_RSA_ALGORITHM, nullptr, 0) >= 0 &&
      BCryptImportKeyPair(provider, nullptr, BCRYPT_RSAPUBLIC_BLOB, &key, const_cast<PUCHAR>(key_blob),
                          RELEASE_KEY_BLOB_BYTES, 0) >= 0) {
    BCRYPT_PKCS1_PADDING_INFO padding = {BCRYPT_SHA256_ALGORITHM};
    NTSTATUS status = BCryptVerifySignature(key, &padding, const_cast<PUCHAR>(digest), 32,
                                            const_cast<PUCHAR>(signature), signature_length, BCRYPT_PAD_PKCS1);
    result = status >= 0;
  }
  if (key != nullptr) BCryptDestroyKey(key);
  if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
  return result;
}
