// Reading a certificate or a key back the way plain libcrypto does, without Velmora: the
// baselines of the loaders and of the store's file information share these.
#pragma once

#include "crypto/OpenSSLWrapper.h"

#include <openssl/pem.h>
#include <openssl/rand.h>

#include <ctime>

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

// A CRL of CA signed by Key, listing Entries random serials revoked now, valid for 30 days,
// as PEM: made with libcrypto alone, so what reads it is measured against a list it did not
// write itself.
inline std::string PlainCRLWithEntries(X509* CA, EVP_PKEY* Key, int Entries) {
  using namespace velmora;
  X509_CRLPtr crl(X509_CRL_new());
  X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2);
  X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(CA));
  ASN1_TIMEPtr now(ASN1_TIME_set(nullptr, std::time(nullptr)));
  ASN1_TIMEPtr next(ASN1_TIME_adj(nullptr, std::time(nullptr), 30, 0));
  X509_CRL_set1_lastUpdate(crl.get(), now.get());
  X509_CRL_set1_nextUpdate(crl.get(), next.get());
  for (int i = 0; i < Entries; ++i) {
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof bytes);
    bytes[0] &= 0x7F;
    BIGNUMPtr number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    ASN1_INTEGERPtr serial(BN_to_ASN1_INTEGER(number.get(), nullptr));
    X509_REVOKED* entry = X509_REVOKED_new();
    X509_REVOKED_set_serialNumber(entry, serial.get());
    X509_REVOKED_set_revocationDate(entry, now.get());
    X509_CRL_add0_revoked(crl.get(), entry);
  }
  X509_CRL_sort(crl.get());
  ASN1_INTEGERPtr crlNumber(ASN1_INTEGER_new());
  ASN1_INTEGER_set(crlNumber.get(), 1);
  X509_CRL_add1_ext_i2d(crl.get(), NID_crl_number, crlNumber.get(), 0, 0);
  X509_CRL_sign(crl.get(), Key, EVP_sha256());
  BIOPtr out(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509_CRL(out.get(), crl.get());
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, length > 0 ? static_cast<std::size_t>(length) : 0);
}
