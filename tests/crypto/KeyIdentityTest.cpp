// A key pair's identity: the same for a key, its public half and every certificate made for
// it, different for any other key, and the digest the openssl command line gives.
#include "crypto/KeyIdentity.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>

#include <openssl/x509.h>

#include <string>

namespace velmora::test {
namespace {

EVP_PKEYPtr PublicHalf(EVP_PKEY* Key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(Key, &der);
  if (length <= 0) throw Exception("the public half could not be encoded");
  const unsigned char* read = der;
  EVP_PKEYPtr half(d2i_PUBKEY(nullptr, &read, length));
  OPENSSL_free(der);
  return half;
}

struct KeyCase {
  const char* name;
  EVP_PKEYPtr (*make)();
};

class KeyIdentity : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyIdentity, IsTheSameForTheKeyItsPublicHalfAndItsCertificates) {
  const EVP_PKEYPtr key = GetParam().make();
  const EVP_PKEYPtr half = PublicHalf(key.get());
  ASSERT_NE(half, nullptr);
  const X509Ptr selfSigned = MakeSelfSignedCert(key.get(), "one");
  const EVP_PKEYPtr issuerKey = MakeECKey("P-256");
  const X509Ptr issuer = MakeSelfSignedCert(issuerKey.get(), "issuer");
  const X509Ptr signedByOther = MakeSignedCert(key.get(), "two", issuer.get(), issuerKey.get());

  const std::string identity = PublicKeyIdentity(key.get());
  ASSERT_EQ(identity.size(), 64u);
  EXPECT_EQ(identity.find_first_not_of("0123456789abcdef"), std::string::npos) << identity;
  EXPECT_EQ(PublicKeyIdentity(half.get()), identity);
  EXPECT_EQ(CertificateKeyIdentity(selfSigned.get()), identity);
  EXPECT_EQ(CertificateKeyIdentity(signedByOther.get()), identity);
  EXPECT_NE(CertificateKeyIdentity(issuer.get()), identity);
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_P(KeyIdentity, DiffersForAnotherKeyOfTheSameKind) {
  const EVP_PKEYPtr one = GetParam().make();
  const EVP_PKEYPtr other = GetParam().make();
  EXPECT_NE(PublicKeyIdentity(one.get()), PublicKeyIdentity(other.get()));
}

// The digest of what `openssl pkey -pubout -outform DER` writes for the key.
TEST_P(KeyIdentity, IsTheSHA256OfTheSubjectPublicKeyInfoAsOpenSSLWritesIt) {
  ASSERT_EQ(RunCommand("openssl version").status, 0) << "the openssl command line is needed";
  const TempDir temp;
  const EVP_PKEYPtr key = GetParam().make();
  WriteFile(temp.Path() / "key.pem", KeyToPKCS8PEM(key.get()));
  const TRun run = RunCommand("openssl pkey -in " + Quoted(temp.File("key.pem")) +
                              " -pubout -outform DER | openssl dgst -sha256 -r");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.substr(0, 64), PublicKeyIdentity(key.get()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, KeyIdentity,
                         testing::Values(KeyCase{"ECP256", [] { return MakeECKey("P-256"); }},
                                         KeyCase{"ECP384", [] { return MakeECKey("P-384"); }},
                                         KeyCase{"RSA2048", [] { return MakeRSAKey(2048); }}),
                         [](const auto& Info) { return std::string(Info.param.name); });

TEST(KeyIdentityOfNothing, IsEmpty) {
  EXPECT_EQ(PublicKeyIdentity(nullptr), "");
  EXPECT_EQ(CertificateKeyIdentity(nullptr), "");
}

}  // namespace
}  // namespace velmora::test
