// TOpenSSLCert: the facts derived from a key, the Base64 exchange of a certificate, and
// signing and verifying data.
#include "tests/crypto/CertificatesTestSupport.h"

#include <openssl/ec.h>

#include <set>

namespace velmora::test {
namespace {

static_assert(sizeof(TKeyFamily) == 1 && sizeof(TSigAlgorithm) == 1);

std::unique_ptr<TOpenSSLCert> HoldingPrivateKey(EVP_PKEYPtr Key) {
  return std::make_unique<TOpenSSLCert>(Key.release(), true, nullptr);
}

// --- Key facts --------------------------------------------------------------------------

struct KeyFactsCase {
  const char* name;
  EVP_PKEYPtr (*make)();
  TKeyFamily family;
  int bits;
  const char* curve;
  TSigAlgorithm sigAlg;
  const char* sigAlgText;
  int digest;
  int rawPartLength;
};

// Test names and failure reports show the case by its name.
void PrintTo(const KeyFactsCase& c, std::ostream* os) { *os << c.name; }

class KeyFacts : public ::testing::TestWithParam<KeyFactsCase> {};

// The facts must be the same whether the object holds the private key or only the public
// key of a certificate.
TEST_P(KeyFacts, FollowTheKeyHeld) {
  const KeyFactsCase& c = GetParam();
  EVP_PKEYPtr key = c.make();
  X509Ptr cert = MakeSelfSignedCert(key.get());
  std::unique_ptr<TOpenSSLCert> fromCertificate =
      TCertLoader::LoadCertificate(CertToPEM(cert.get()));
  ASSERT_NE(fromCertificate, nullptr);
  std::unique_ptr<TOpenSSLCert> fromKey = HoldingPrivateKey(std::move(key));

  for (const TOpenSSLCert* object : {fromKey.get(), fromCertificate.get()}) {
    SCOPED_TRACE(object == fromKey.get() ? "private key" : "certificate's public key");
    EXPECT_EQ(object->KeyType(), c.family);
    EXPECT_EQ(object->Bits(), c.bits);
    EXPECT_EQ(object->GetCurveName(), c.curve);
    EXPECT_EQ(object->GetSigAlg(), c.sigAlg);
    EXPECT_EQ(SigAlgToString(object->GetSigAlg()), c.sigAlgText);
    EXPECT_EQ(EVP_MD_get_type(object->GetMessageDigest()), c.digest);
    EXPECT_EQ(object->GetRawSignaturePartLength(), c.rawPartLength);
  }
  EXPECT_EQ(ERR_peek_error(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyFacts,
    ::testing::Values(KeyFactsCase{"RSA2048", [] { return SharedRSAKey(2048); }, ctRSA, 2048, "",
                                   saRS256, "RS256", NID_sha256, 256},
                      KeyFactsCase{"RSA3071", [] { return SharedRSAKey(3071); }, ctRSA, 3071, "",
                                   saRS256, "RS256", NID_sha256, 384},
                      KeyFactsCase{"RSA3072", [] { return SharedRSAKey(3072); }, ctRSA, 3072, "",
                                   saRS384, "RS384", NID_sha384, 384},
                      KeyFactsCase{"RSA4095", [] { return SharedRSAKey(4095); }, ctRSA, 4095, "",
                                   saRS384, "RS384", NID_sha384, 512},
                      KeyFactsCase{"RSA4096", [] { return SharedRSAKey(4096); }, ctRSA, 4096, "",
                                   saRS512, "RS512", NID_sha512, 512},
                      KeyFactsCase{"P256", [] { return MakeECKey("prime256v1"); }, ctECC, 256,
                                   "P-256", saES256, "ES256", NID_sha256, 32},
                      KeyFactsCase{"P384", [] { return MakeECKey("secp384r1"); }, ctECC, 384,
                                   "P-384", saES384, "ES384", NID_sha384, 48},
                      KeyFactsCase{"P521", [] { return MakeECKey("secp521r1"); }, ctECC, 521,
                                   "P-521", saES512, "ES512", NID_sha512, 66},
                      KeyFactsCase{"secp256k1", [] { return MakeECKey("secp256k1"); }, ctECC, 256,
                                   "secp256k1", saUnknown, "UNKNOWN", NID_sha256, 32},
                      KeyFactsCase{"Ed25519", [] { return MakeKey("ED25519"); }, ctUnknown, 256, "",
                                   saUnknown, "UNKNOWN", NID_sha256, 32},
                      KeyFactsCase{"RSAPSS2048", [] { return MakeRSAKey(2048, "RSA-PSS"); },
                                   ctUnknown, 2048, "", saUnknown, "UNKNOWN", NID_sha256, 256}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SigAlgToString, NamesEveryAlgorithmAndNothingElse) {
  const std::pair<TSigAlgorithm, const char*> cases[] = {
      {saUnknown, "UNKNOWN"},
      {saES256, "ES256"},
      {saES384, "ES384"},
      {saES512, "ES512"},
      {saRS256, "RS256"},
      {saRS384, "RS384"},
      {saRS512, "RS512"},
      {static_cast<TSigAlgorithm>(7), "UNKNOWN"},
      {static_cast<TSigAlgorithm>(255), "UNKNOWN"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(SigAlgToString(value), text) << int(value);
}

// Whatever the private-key flag says, an object without a key has no facts, verifies
// nothing and cannot sign.
TEST(TOpenSSLCert, WithoutAKey) {
  for (const bool flag : {false, true}) {
    SCOPED_TRACE(flag ? "flagged private" : "not flagged");
    const TOpenSSLCert object(nullptr, flag, nullptr);
    EXPECT_EQ(object.HasPrivateKey(), flag);
    EXPECT_EQ(object.KeyType(), ctUnknown);
    EXPECT_EQ(object.Bits(), 0);
    EXPECT_EQ(object.GetSigAlg(), saUnknown);
    EXPECT_EQ(object.GetCurveName(), "");
    EXPECT_EQ(object.GetRawSignaturePartLength(), 0);
    EXPECT_EQ(object.GetCertificateBase64(), "");
    EXPECT_FALSE(object.VerifyData(BytesOf("data"), BytesOf("signature")));
    const std::string failure = FailureOf([&] { object.SignData(BytesOf("data")); });
    if (flag)
      EXPECT_TRUE(IsOpenSSLFailure(failure, "EVP_DigestSignInit"));
    else
      EXPECT_EQ(failure, "Private key required for signing.");
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

// --- Base64 -----------------------------------------------------------------------------

TEST(CertificateBase64, RoundTripGivesTheCertificateWithItsPublicKeyOnly) {
  EVP_PKEYPtr keyA = MakeECKey("prime256v1");
  X509Ptr certA = MakeSelfSignedCert(keyA.get(), "A");
  EVP_PKEYPtr keyB = MakeECKey("secp384r1");
  X509Ptr certB = MakeSelfSignedCert(keyB.get(), "B");
  const TOpenSSLCert source(NewRef(keyA.get()), true, NewRef(certA.get()));
  TOpenSSLCert target(NewRef(keyB.get()), true, NewRef(certB.get()));

  const std::string text = source.GetCertificateBase64();
  EXPECT_EQ(
      text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
      std::string::npos)
      << text;
  target.PutCertificateBase64(text);

  ExpectHolds(target, keyA.get(), false, certA.get());
  EXPECT_EQ(target.KeyType(), ctECC);
  EXPECT_EQ(target.Bits(), 256);
  EXPECT_EQ(target.GetSigAlg(), saES256);
  EXPECT_EQ(ERR_peek_error(), 0u);
}

std::string Wrapped(const std::string& Text, size_t Width, const std::string& LineEnd) {
  std::string wrapped;
  for (size_t at = 0; at < Text.size(); at += Width) wrapped += Text.substr(at, Width) + LineEnd;
  return wrapped;
}

// Certificates whose DER lengths leave each remainder modulo 3, so that every form of the
// last Base64 group (with two, one or no "=") is decoded.
TEST(CertificateBase64, WrappedBlankAndUnpaddedTextDecodeAlike) {
  EVP_PKEYPtr key = MakeKey("ED25519");  // fixed-length signatures
  std::set<size_t> remainders;
  for (const char* name : {"a", "ab", "abc"}) {
    X509Ptr cert = MakeSelfSignedCert(key.get(), name);
    remainders.insert(CertToDER(cert.get()).size() % 3);
    const std::string text =
        TOpenSSLCert(nullptr, false, NewRef(cert.get())).GetCertificateBase64();
    ASSERT_FALSE(text.empty());
    std::string unpadded = text;
    std::erase(unpadded, '=');
    std::string blanks;
    for (size_t i = 0; i < text.size(); ++i) (blanks += text[i]) += (i % 10 == 9 ? " \t" : "");

    const std::pair<const char*, std::string> forms[] = {
        {"one line", text},
        {"64 CRLF", Wrapped(text, 64, "\r\n")},
        {"64 LF", Wrapped(text, 64, "\n")},
        {"76 CRLF", Wrapped(text, 76, "\r\n")},
        {"76 LF", Wrapped(text, 76, "\n")},
        {"without padding", unpadded},
        {"with blanks", blanks},
    };
    for (const auto& [form, input] : forms) {
      SCOPED_TRACE(std::string(name) + ", " + form);
      std::unique_ptr<TOpenSSLCert> object = TCertLoader::LoadFromBase64(input);
      ASSERT_NE(object, nullptr);
      ExpectHolds(*object, key.get(), false, cert.get());
    }
  }
  EXPECT_EQ(remainders, (std::set<size_t>{0, 1, 2}));
}

// Text that is not a certificate leaves the object without key, certificate or facts of
// the key it held before, and raises nothing.
TEST(CertificateBase64, TextThatIsNoCertificateLeavesNothing) {
  EVP_PKEYPtr key = MakeECKey("prime256v1");
  X509Ptr cert = MakeSelfSignedCert(key.get());
  const std::string base64 =
      TOpenSSLCert(nullptr, false, NewRef(cert.get())).GetCertificateBase64();
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"no Base64 digits", "!!!! ???? ----"},
      {"PEM text with its markers", CertToPEM(cert.get())},
      {"first half of a certificate", base64.substr(0, base64.size() / 2)},
      {"Base64 of other data", "SGVsbG8sIHdvcmxkIQ=="},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    TOpenSSLCert object(NewRef(key.get()), true, NewRef(cert.get()));
    object.PutCertificateBase64(text);
    EXPECT_EQ(object.PKey(), nullptr);
    EXPECT_EQ(object.X509Cert(), nullptr);
    EXPECT_EQ(object.KeyType(), ctUnknown);
    EXPECT_EQ(object.Bits(), 0);
    EXPECT_EQ(object.GetSigAlg(), saUnknown);
    EXPECT_TRUE(object.HasPrivateKey()) << "only a certificate read sets the flag";

    std::unique_ptr<TOpenSSLCert> loaded = TCertLoader::LoadFromBase64(text);
    ASSERT_NE(loaded, nullptr);
    ExpectHolds(*loaded, nullptr, false, nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

// --- Signing and verifying --------------------------------------------------------------

struct SignCase {
  const char* name;
  EVP_PKEYPtr (*make)();
  const EVP_MD* (*digest)();
};

// An independent check with plain libcrypto: the signature is the key's default form over
// the digest the key calls for.
bool LibcryptoVerifies(EVP_PKEY* Key, const EVP_MD* Digest, const Bytes& Data,
                       const Bytes& Signature) {
  EVP_MD_CTXPtr ctx(EVP_MD_CTX_new());
  return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, Digest, nullptr, Key) == 1 &&
         EVP_DigestVerify(ctx.get(), Signature.data(), Signature.size(), Data.data(),
                          Data.size()) == 1;
}

// An ECDSA signature is a DER sequence of r and s filling the result exactly.
bool IsWholeDERSignature(const Bytes& Signature) {
  const unsigned char* p = Signature.data();
  ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(Signature.size()));
  ECDSA_SIG_free(parsed);
  return parsed != nullptr && p == Signature.data() + Signature.size();
}

TEST(SignAndVerify, SignatureVerifiesOnlyForItsDataAndKey) {
  const SignCase cases[] = {
      {"RSA 2048", [] { return SharedRSAKey(2048); }, EVP_sha256},
      {"P-256", [] { return MakeECKey("prime256v1"); }, EVP_sha256},
      {"P-384", [] { return MakeECKey("secp384r1"); }, EVP_sha384},
      {"P-521", [] { return MakeECKey("secp521r1"); }, EVP_sha512},
  };
  const Bytes data = BytesOf("The quick brown fox jumps over the lazy dog");
  for (const SignCase& c : cases) {
    SCOPED_TRACE(c.name);
    EVP_PKEYPtr key = c.make();
    X509Ptr cert = MakeSelfSignedCert(key.get());
    std::unique_ptr<TOpenSSLCert> publicOnly = TCertLoader::LoadCertificate(CertToPEM(cert.get()));
    ASSERT_NE(publicOnly, nullptr);
    const TOpenSSLCert signer(NewRef(key.get()), true, nullptr);

    const Bytes signature = signer.SignData(data);
    EXPECT_TRUE(LibcryptoVerifies(key.get(), c.digest(), data, signature));
    EXPECT_TRUE(signer.VerifyData(data, signature));
    EXPECT_TRUE(publicOnly->VerifyData(data, signature));

    Bytes otherData = data;
    otherData[7] ^= 1;
    EXPECT_FALSE(publicOnly->VerifyData(otherData, signature));
    Bytes otherSignature = signature;
    otherSignature[otherSignature.size() / 2] ^= 1;
    EXPECT_FALSE(publicOnly->VerifyData(data, otherSignature));
    EXPECT_FALSE(publicOnly->VerifyData(data, {}));

    const Bytes emptySignature = signer.SignData({});
    EXPECT_TRUE(LibcryptoVerifies(key.get(), c.digest(), {}, emptySignature));
    EXPECT_TRUE(publicOnly->VerifyData({}, emptySignature));
    EXPECT_FALSE(publicOnly->VerifyData(data, emptySignature));

    EXPECT_EQ(FailureOf([&] { publicOnly->SignData(data); }), "Private key required for signing.");
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

// The length libcrypto first reports is the longest an ECDSA signature can be; most are
// shorter, and the result must be cut to the bytes actually written.
TEST(SignAndVerify, ECDSASignaturesAreTrimmedToTheirDER) {
  for (const char* group : {"prime256v1", "secp521r1"}) {
    SCOPED_TRACE(group);
    EVP_PKEYPtr key = MakeECKey(group);
    const size_t longest = static_cast<size_t>(EVP_PKEY_get_size(key.get()));
    const TOpenSSLCert signer(NewRef(key.get()), true, nullptr);
    bool sawShorter = false;
    for (int i = 0; i < 16; ++i) {
      const Bytes signature = signer.SignData(BytesOf("message " + std::to_string(i)));
      EXPECT_TRUE(IsWholeDERSignature(signature));
      EXPECT_LE(signature.size(), longest);
      sawShorter |= signature.size() < longest;
    }
    EXPECT_TRUE(sawShorter);
  }
}

TEST(SignAndVerify, AKeyThatTakesNoDigestCannotSign) {
  const TOpenSSLCert signer(MakeKey("ED25519").release(), true, nullptr);
  EXPECT_TRUE(
      IsOpenSSLFailure(FailureOf([&] { signer.SignData(BytesOf("data")); }), "EVP_DigestSignInit"));
  EXPECT_EQ(ERR_peek_error(), 0u);
}

}  // namespace
}  // namespace velmora::test
