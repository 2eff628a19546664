#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include "trust/digest.h"
#include "trust/signature.h"

namespace {
// The public key taken from the same 411-byte blob the Windows build imports.
EVP_PKEY* import_release_key() {
  unsigned char blob[RELEASE_KEY_BLOB_BYTES];
  build_release_key_blob(blob);
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

int verify_release_signature(const unsigned char* data, uint32_t data_length, const unsigned char* signature,
                             uint32_t signature_length) {
  if (signature_length != SIGNATURE_BYTES) return 0;
  unsigned char digest[DIGEST_BYTES];
  if (!sha256_bytes(data, data_length, digest)) return 0;
  EVP_PKEY* key = import_release_key();
  if (key == nullptr) return 0;
  int result = 0;
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
  if (context != nullptr && EVP_PKEY_verify_init(context) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1 &&
      EVP_PKEY_CTX_set_signature_md(context, EVP_sha256()) == 1) {
    result = EVP_PKEY_verify(context, signature, signature_length, digest, sizeof digest) == 1;
  }
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(key);
  return result;
}
