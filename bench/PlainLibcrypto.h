// Reading a certificate or a key back the way plain libcrypto does, without Velmora: the
// baselines of the loaders and of the store's file information share these.
#pragma once

#include "crypto/OpenSSLWrapper.h"

#include <openssl/pem.h>

#include <string>

// What is shown about a key: family, size and, for an EC key, its curve.
inline int PlainKeyFacts(EVP_PKEY* Key) {
  char group[64];
  size_t length = 0;
  EVP_PKEY_get_utf8_string_param(Key, "group", group, sizeof group, &length);
  return EVP_PKEY_get_bits(Key) + EVP_PKEY_get_base_id(Key) + static_cast<int>(length);
}

// The first certificate of a PEM file, and the facts of its public key.
inline int PlainCertificateFileFacts(const std::string& Path) {
  velmora::BIOPtr bio(BIO_new_file(Path.c_str(), "r"));
  velmora::X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  velmora::EVP_PKEYPtr key(X509_get_pubkey(cert.get()));
  return PlainKeyFacts(key.get()) + X509_get_signature_nid(cert.get());
}

// The first private key of a PEM file, unencrypted, and its facts.
inline int PlainKeyFileFacts(const std::string& Path) {
  velmora::BIOPtr bio(BIO_new_file(Path.c_str(), "r"));
  velmora::EVP_PKEYPtr key(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>("")));
  return PlainKeyFacts(key.get());
}
