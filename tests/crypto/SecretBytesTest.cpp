// Whether a file's bytes hold secrets, decided by content alone: what a certificate about to
// be written over must never be without the user's word.
#include "crypto/SecretBytes.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>

namespace velmora {
namespace {

std::string AsText(const test::Bytes& Der) { return {Der.begin(), Der.end()}; }

std::string DERKey(EVP_PKEY* Key, const char* Password) {
  BIOPtr bio(BIO_new(BIO_s_mem()));
  const EVP_CIPHER* cipher = Password ? EVP_aes_256_cbc() : nullptr;
  EXPECT_EQ(i2d_PKCS8PrivateKey_bio(bio.get(), Key, cipher, nullptr, 0, nullptr,
                                    const_cast<char*>(Password)),
            1);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string TraditionalDERKey(EVP_PKEY* Key) {
  unsigned char* der = nullptr;
  const int size = i2d_PrivateKey(Key, &der);
  EXPECT_GT(size, 0);
  std::string text(reinterpret_cast<char*>(der), static_cast<std::size_t>(size));
  OPENSSL_free(der);
  return text;
}

TEST(HoldsPrivateKeyOrBundle, TellsSecretsFromCertificatesAndText) {
  const EVP_PKEYPtr key = test::MakeECKey("P-256");
  const X509Ptr cert = test::MakeSelfSignedCert(key.get());
  struct Case {
    const char* name;
    std::string bytes;
    bool secret;
  };
  const Case cases[] = {
      {"PEM certificate", test::CertToPEM(cert.get()), false},
      {"DER certificate", AsText(test::CertToDER(cert.get())), false},
      {"notes", "a CA lives here\n", false},
      {"empty", "", false},
      {"PEM key", test::KeyToPKCS8PEM(key.get()), true},
      {"encrypted PEM key", test::KeyToPKCS8PEM(key.get(), "x"), true},
      {"traditional PEM key", test::KeyToTraditionalPEM(key.get()), true},
      {"DER key", DERKey(key.get(), nullptr), true},
      {"encrypted DER key", DERKey(key.get(), "x"), true},
      {"traditional DER key", TraditionalDERKey(key.get()), true},
      {"DER bundle", AsText(test::MakePKCS12(key.get(), cert.get(), {}, "x")), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HoldsPrivateKeyOrBundle(c.bytes), c.secret);
  }
}

}  // namespace
}  // namespace velmora
