#include "crypto/CertBuilder.h"

#include <openssl/core_names.h>
#include <openssl/rsa.h>

namespace velmora {

namespace {

// The window offers the NIST curves by their short names; anything else goes to
// libcrypto as a group name of its own.
std::string GroupNameFor(const std::string& curve) {
  if (curve == "P-256") return "prime256v1";
  if (curve == "P-384") return "secp384r1";
  if (curve == "P-521") return "secp521r1";
  return curve;
}

}  // namespace

void TCertBuilder::GenerateKey() {
  StartWithEmptyErrorQueue();
  // Whatever happens next, the old key pair is gone; the certificate stays.
  FKey.reset();
  FKey = KeyType == ktRSA ? GenerateRSAKey() : GenerateECKey();
}

EVP_PKEYPtr TCertBuilder::GenerateRSAKey() const {
  EVP_PKEY_CTXPtr ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
  if (!ctx) RaiseOpenSSLError("EVP_PKEY_CTX_new_id(RSA)");
  if (EVP_PKEY_keygen_init(ctx.get()) != 1) RaiseOpenSSLError("RSA keygen_init");
  if (EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), RSABits) <= 0)
    RaiseOpenSSLError("RSA set_keygen_bits");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_keygen(ctx.get(), &key) != 1) RaiseOpenSSLError("RSA keygen");
  return EVP_PKEYPtr(key);
}

EVP_PKEYPtr TCertBuilder::GenerateECKey() const {
  std::string group = GroupNameFor(ECCurve);
  EVP_PKEY_CTXPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!ctx) RaiseOpenSSLError("EVP_PKEY_CTX_new_from_name(EC)");
  if (EVP_PKEY_keygen_init(ctx.get()) != 1) RaiseOpenSSLError("EC keygen_init");
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group.data(), 0),
      OSSL_PARAM_construct_end(),
  };
  if (EVP_PKEY_CTX_set_params(ctx.get(), params) != 1) RaiseOpenSSLError("EC set_params(group)");
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &key) != 1) RaiseOpenSSLError("EC keygen");
  return EVP_PKEYPtr(key);
}

}  // namespace velmora
