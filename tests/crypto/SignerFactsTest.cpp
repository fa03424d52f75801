// What the issuance asks of a CA certificate before it signs with it: whether it can sign at
// all, how strong its key and its own signature are, whether a key pair is its own, and
// whether a file meant for its key holds a certificate instead.
#include "crypto/Certificates.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/SignerFixtures.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <functional>
#include <string>

namespace velmora::test {
namespace {

struct SignerCase {
  const char* name;
  std::function<EVP_PKEYPtr()> key;
  TExtensionLines extensions;
  const EVP_MD* (*digest)() = nullptr;
  bool isCA, hasKeyUsage, keyCertSign, canSign;
  TKeyFamily family;
  int bits;
  std::string weakDigest;
};

EVP_PKEYPtr P256() { return MakeECKey("P-256"); }
EVP_PKEYPtr RSA2048() { return SharedRSAKey(2048); }
EVP_PKEYPtr RSA1024() { return MakeRSAKey(1024); }

TEST(SignerFacts, TellWhetherACertificateCanSignAndHowStrongItIs) {
  const SignerCase cases[] = {
      {"SoundCA", P256, SoundCAExtensions(), nullptr, true, true, true, true, ctECC, 256, ""},
      {"CAWithoutKeyUsage",
       P256,
       {{NID_basic_constraints, "critical,CA:TRUE"}},
       nullptr,
       true,
       false,
       false,
       true,
       ctECC,
       256,
       ""},
      {"NoBasicConstraints",
       P256,
       {{NID_key_usage, "keyCertSign"}},
       nullptr,
       false,
       true,
       true,
       false,
       ctECC,
       256,
       ""},
      {"CAFalse",
       P256,
       {{NID_basic_constraints, "CA:FALSE"}, {NID_key_usage, "keyCertSign"}},
       nullptr,
       false,
       true,
       true,
       false,
       ctECC,
       256,
       ""},
      {"KeyUsageWithoutCertSign",
       P256,
       {{NID_basic_constraints, "critical,CA:TRUE"}, {NID_key_usage, "digitalSignature,cRLSign"}},
       nullptr,
       true,
       true,
       false,
       false,
       ctECC,
       256,
       ""},
      {"RSA1024", RSA1024, SoundCAExtensions(), nullptr, true, true, true, true, ctRSA, 1024, ""},
      {"SignedWithSHA1", RSA2048, SoundCAExtensions(), EVP_sha1, true, true, true, true, ctRSA,
       2048, "SHA-1"},
      {"SignedWithMD5", RSA2048, SoundCAExtensions(), EVP_md5, true, true, true, true, ctRSA, 2048,
       "MD5"},
      {"SignedWithSHA384", P256, SoundCAExtensions(), EVP_sha384, true, true, true, true, ctECC,
       256, ""},
  };
  for (const SignerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const EVP_PKEYPtr key = c.key();
    const X509Ptr cert =
        MakeSelfSignedWith(key.get(), c.extensions, c.digest ? c.digest() : nullptr);
    const TSignerFacts facts = SignerFactsOf(cert.get());
    EXPECT_EQ(facts.IsCA, c.isCA);
    EXPECT_EQ(facts.HasKeyUsage, c.hasKeyUsage);
    EXPECT_EQ(facts.KeyCertSign, c.keyCertSign);
    EXPECT_EQ(facts.CanSignCertificates(), c.canSign);
    EXPECT_EQ(facts.KeyFamily, c.family);
    EXPECT_EQ(facts.KeyBits, c.bits);
    EXPECT_EQ(facts.WeakSignatureDigest, c.weakDigest);
  }
  EXPECT_FALSE(SignerFactsOf(nullptr).CanSignCertificates());
}

TEST(SignerFacts, ACertificateCarriesItsOwnPublicKeyAndNoOther) {
  const EVP_PKEYPtr key = MakeECKey("P-256"), other = MakeECKey("P-256");
  const EVP_PKEYPtr rsa = SharedRSAKey(2048);
  const X509Ptr cert = MakeSelfSignedWith(key.get(), SoundCAExtensions());
  EXPECT_TRUE(CarriesPublicKey(cert.get(), key.get()));
  EXPECT_FALSE(CarriesPublicKey(cert.get(), other.get()));
  EXPECT_FALSE(CarriesPublicKey(cert.get(), rsa.get()));  // another kind of key altogether
  EXPECT_FALSE(CarriesPublicKey(cert.get(), nullptr));
  // The private key as read back from its file is the same key.
  const std::string keyPEM = KeyToPKCS8PEM(key.get());
  const BIOPtr bio = NewMemBuf(keyPEM);
  const EVP_PKEYPtr reread(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  ASSERT_NE(reread, nullptr);
  EXPECT_TRUE(CarriesPublicKey(cert.get(), reread.get()));
}

TEST(SignerFacts, AKeyFileHoldingOnlyACertificateIsToldByItsContent) {
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const X509Ptr cert = MakeSelfSignedWith(key.get(), SoundCAExtensions());
  const std::string certPEM = CertToPEM(cert.get());
  const Bytes certDER = CertToDER(cert.get());
  const std::string keyPEM = KeyToPKCS8PEM(key.get());
  const struct {
    const char* name;
    std::string bytes;
    bool certificateOnly;
  } cases[] = {
      {"CertificatePEM", certPEM, true},
      {"CertificatePEMAfterText", "Subject: Fixture CA\n" + certPEM, true},
      {"CertificateDER", std::string(certDER.begin(), certDER.end()), true},
      {"TrustedCertificatePEM",
       "-----BEGIN TRUSTED CERTIFICATE-----\nAAAA\n-----END TRUSTED CERTIFICATE-----\n", true},
      {"KeyPEM", keyPEM, false},
      {"EncryptedKeyPEM", KeyToPKCS8PEM(key.get(), "secret"), false},
      {"TraditionalKeyPEM", KeyToTraditionalPEM(key.get()), false},
      {"CertificateThenKey", certPEM + keyPEM, false},
      {"KeyThenCertificate", keyPEM + certPEM, false},
      {"CertificateRequestPEM",
       "-----BEGIN CERTIFICATE REQUEST-----\nAAAA\n-----END CERTIFICATE REQUEST-----\n", false},
      {"DERWithMore", std::string(certDER.begin(), certDER.end()) + "x", false},
      {"Empty", "", false},
      {"Text", "not a key", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HoldsCertificateWithoutKey(c.bytes), c.certificateOnly);
  }
}

}  // namespace
}  // namespace velmora::test
