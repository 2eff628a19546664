#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include "trust/platform.h"

namespace {
// The public key taken from the same 411-byte blob the Windows build imports.
EVP_PKEY* import_key_blob(const unsigned char* blob) {
  EVP_PKEY* key = nullptr;
  BIGNUM* exponent = BN_bin2bn(blob + 24, 3, nullptr);
  BIGNUM* modulus = BN_bin2bn(blob + 27, 384, nullptr);
  OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
  OSSL_PARAM* params = nullptr;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  if (exponent != nullptr && modulus != nullptr && build != nullptr && context != nullptr &&
      OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, modulus) &&
      OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, exponent) &&
      (params = OSSL_PARAM_BLD_to_param(build)) != nullptr && EVP_PKEY_fromdata_init(context) == 1) {
    if (EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) key = nullptr;
  }
  EVP_PKEY_CTX_free(context);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(build);
  BN_free(modulus);
  BN_free(exponent);
  return key;
}
}  // namespace

int verify_digest_signature(const unsigned char digest[32], const unsigned char* signature, uint32_t signature_length,
                            const unsigned char* key_blob) {
  EVP_PKEY* key = import_key_blob(key_blob);
  if (key == nullptr) return 0;
  int result = 0;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
  if (context != nullptr && EVP_PKEY_verify_init(context) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
      EVP_PKEY_CTX_set_signature_md(context, EVP_sha256()) == 1) {
    result = EVP_PKEY_verify(context, signature, signature_length, digest, 32) == 1;
  }
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(key);
  return result;
}
