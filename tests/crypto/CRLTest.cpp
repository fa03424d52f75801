// Revocation lists as crypto signs and reads them: entries carried over with their reasons,
// numbers that grow, the CA's key identifier, the digest the CA signs certificates with, and
// a view that refuses what another CA signed.
#include "crypto/CRL.h"
#include "tests/crypto/BuilderTestSupport.h"

#include <openssl/pem.h>

namespace velmora::test {
namespace {

constexpr std::time_t kNow = 1'800'000'000;  // a fixed moment: no test depends on the clock

X509Ptr LeafOf(const TTestCA& CA, const std::string& Name) {
  TNamedBuilder leaf;
  leaf.Subject.CN = Name;
  leaf.GenerateKey();
  leaf.BuildSignedBy(CA.certPEM, CA.keyPEM, "");
  return CertFromPEM(leaf.CertToPEM());
}

TCRLView ViewOf(const std::string& PEM) {
  std::optional<TCRLView> view = ReadCRLView(PEM);
  if (!view) throw std::runtime_error("the CRL does not read");
  return std::move(*view);
}

TEST(CRL, EntriesCarryOverWithReasonsAndTheNumberGrows) {
  const TCRLSigner signer(FirstCA().certPEM, FirstCA().keyPEM, "");
  const TCertificateView first(LeafOf(FirstCA(), "first.test"));
  const TCertificateView second(LeafOf(FirstCA(), "second.test"));
  const TCRLView one =
      ViewOf(signer.Sign(nullptr, &first, TRevocationReason::KeyCompromise, 30, kNow));
  const TCRLView two =
      ViewOf(signer.Sign(&one, &second, TRevocationReason::Unspecified, 7, kNow + 60));

  EXPECT_EQ(one.NumberText(), "1");
  EXPECT_EQ(two.NumberText(), "2");
  EXPECT_EQ(two.EntryCount(), 2u);
  EXPECT_EQ(two.ThisUpdate(), kNow + 60);
  EXPECT_EQ(two.NextUpdate(), kNow + 60 + 7 * 86400);
  EXPECT_EQ(two.IssuerText(), "O=Velmora Tests, CN=Velmora Test CA One");
  const std::optional<TRevokedEntry> firstEntry = two.EntryFor(first);
  ASSERT_TRUE(firstEntry);
  EXPECT_EQ(firstEntry->SerialHex, first.SerialHex());
  EXPECT_EQ(firstEntry->ReasonText, "keyCompromise");
  EXPECT_EQ(firstEntry->Date, kNow);
  const std::optional<TRevokedEntry> secondEntry = two.EntryFor(second);
  ASSERT_TRUE(secondEntry);
  EXPECT_EQ(secondEntry->ReasonText, "unspecified");
  EXPECT_EQ(secondEntry->Date, kNow + 60);
  EXPECT_FALSE(one.EntryFor(second));
  EXPECT_EQ(two.Entries(1).size(), 1u);
  EXPECT_EQ(two.Entries(1000).size(), 2u);
}

TEST(CRL, VerifiesUnderItsCAOnly) {
  const TCRLSigner signer(FirstCA().certPEM, FirstCA().keyPEM, "");
  const TCRLView crl = ViewOf(signer.Sign(nullptr, nullptr, {}, 30, kNow));
  EXPECT_TRUE(crl.IsSignedBy(TCertificateView(CertFromPEM(FirstCA().certPEM))));
  EXPECT_FALSE(crl.IsSignedBy(TCertificateView(CertFromPEM(SecondCA().certPEM))));
  EXPECT_EQ(crl.EntryCount(), 0u);
  // A changed byte in the signed part breaks the signature, not the reading.
  std::string der;
  {
    unsigned char* bytes = nullptr;
    const int length = i2d_X509_CRL(crl.Handle(), &bytes);
    ASSERT_GT(length, 0);
    der.assign(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(length));
    OPENSSL_free(bytes);
  }
  const std::size_t at = der.find("Velmora Test CA One");
  ASSERT_NE(at, std::string::npos);
  der[at] = 'X';
  const std::optional<TCRLView> changed = ReadCRLView(der);
  ASSERT_TRUE(changed);
  EXPECT_FALSE(changed->IsSignedBy(TCertificateView(CertFromPEM(FirstCA().certPEM))));
}

TEST(CRL, CarriesTheCAsKeyIdentifier) {
  const TCRLSigner signer(FirstCA().certPEM, FirstCA().keyPEM, "");
  const TCRLView crl = ViewOf(signer.Sign(nullptr, nullptr, {}, 30, kNow));
  int critical = 0;
  const AUTHORITY_KEYIDPtr authority(static_cast<AUTHORITY_KEYID*>(
      X509_CRL_get_ext_d2i(crl.Handle(), NID_authority_key_identifier, &critical, nullptr)));
  ASSERT_TRUE(authority && authority->keyid);
  const X509Ptr ca = CertFromPEM(FirstCA().certPEM);
  EXPECT_EQ(ASN1_OCTET_STRING_cmp(authority->keyid, X509_get0_subject_key_id(ca.get())), 0);
}

struct TDigestCase {
  const char* Name;
  TKeyType Type;
  std::int32_t RSABits;
  const char* Curve;
  int DigestNid;  // NID_undef: none, as for Edwards keys
};

class CRLDigest : public testing::TestWithParam<TDigestCase> {};

TEST_P(CRLDigest, IsTheOneTheCASignsCertificatesWith) {
  TCertBuilder ca;
  ca.Subject.CN = "Digest CA";
  ca.KeyType = GetParam().Type;
  ca.RSABits = GetParam().RSABits;
  ca.ECCurve = GetParam().Curve;
  ca.IsCA = true;
  ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
  ca.GenerateKey();
  ca.BuildSelfSigned();
  const TCRLSigner signer(ca.CertToPEM(), ca.KeyToPEM(""), "");
  const TCRLView crl = ViewOf(signer.Sign(nullptr, nullptr, {}, 30, kNow));
  int digest = NID_undef, key = NID_undef;
  ASSERT_EQ(OBJ_find_sigid_algs(X509_CRL_get_signature_nid(crl.Handle()), &digest, &key), 1);
  EXPECT_EQ(digest, GetParam().DigestNid);
  // The CA's own self-signature was made with the same rule.
  EXPECT_EQ(X509_get_signature_nid(ca.Cert()), X509_CRL_get_signature_nid(crl.Handle()));
  EXPECT_TRUE(crl.IsSignedBy(TCertificateView(ca.Cert())));
}

INSTANTIATE_TEST_SUITE_P(Keys, CRLDigest,
                         testing::Values(TDigestCase{"P256", ktECC, 0, "P-256", NID_sha256},
                                         TDigestCase{"P384", ktECC, 0, "P-384", NID_sha384},
                                         TDigestCase{"Ed25519", ktEdwards, 0, "", NID_undef}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(CRL, SignerRefusesAKeyOfAnotherPairAndAWrongPassword) {
  EXPECT_EQ(MessageOf([] { TCRLSigner(FirstCA().certPEM, SecondCA().keyPEM, ""); }),
            "The CA private key does not belong to the CA certificate.");
  try {
    TCRLSigner(FirstCA().certPEM, FirstCA().encryptedKeyPEM, "wrong");
    ADD_FAILURE() << "a wrong password was taken";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Cause().Step, kStepReadCAKey);
    EXPECT_EQ(e.Cause().Kind, TFailureKind::WrongPassword);
  }
  EXPECT_NO_THROW(TCRLSigner(FirstCA().certPEM, FirstCA().encryptedKeyPEM, CAKeyPasswordFor));
}

TEST(CRL, ReaderTakesPEMAndWholeDEROnly) {
  const TCRLSigner signer(FirstCA().certPEM, FirstCA().keyPEM, "");
  const std::string pem = signer.Sign(nullptr, nullptr, {}, 30, kNow);
  const TCRLView crl = ViewOf("some text before\n" + pem);
  unsigned char* bytes = nullptr;
  const int length = i2d_X509_CRL(crl.Handle(), &bytes);
  ASSERT_GT(length, 0);
  const std::string der(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(length));
  OPENSSL_free(bytes);
  EXPECT_TRUE(ReadCRLView(der));
  EXPECT_FALSE(ReadCRLView(der + "x"));
  EXPECT_FALSE(ReadCRLView(der.substr(0, der.size() - 1)));
  EXPECT_FALSE(ReadCRLView(FirstCA().certPEM));
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(CRL, ReasonNamesRoundTrip) {
  for (const TRevocationReason reason : RevocationReasons()) {
    SCOPED_TRACE(RevocationReasonName(reason));
    EXPECT_EQ(RevocationReasonByName(RevocationReasonName(reason)), reason);
  }
  EXPECT_EQ(RevocationReasons().size(), 6u);
  EXPECT_FALSE(RevocationReasonByName("KeyCompromise"));
  EXPECT_FALSE(RevocationReasonByName("certificateHold"));
}

TEST(CRL, DistributionPointRefusesWhatIsNoURL) {
  for (const std::string bad : {"", "http://a b/", "http://\x01/", "http://caf\xc3\xa9/"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(NewCRLDistributionPointExtension(bad), Exception);
  }
  TNamedBuilder leaf;
  leaf.CRLURL = "http://pki.example/a,b.crl";
  leaf.GenerateKey();
  leaf.BuildSelfSigned();
  EXPECT_EQ(ExtensionText(leaf.Cert(), NID_crl_distribution_points),
            "Full Name:\n  URI:http://pki.example/a,b.crl");
  TNamedBuilder plain;
  plain.GenerateKey();
  plain.BuildSelfSigned();
  EXPECT_EQ(ExtensionText(plain.Cert(), NID_crl_distribution_points), "(absent)");
}

}  // namespace
}  // namespace velmora::test
