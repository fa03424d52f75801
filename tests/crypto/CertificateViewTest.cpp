// The certificate view against the openssl command line: serial and fingerprints as `openssl
// x509` prints them, the issuer relation, and the one reader of PEM-or-DER bytes.
#include "BuilderTestSupport.h"
#include "crypto/CertificateView.h"
#include "tests/support/RunCommand.h"

namespace velmora::test {
namespace {

// The value after "<Label>=" in the output of `openssl x509`.
std::string ValueAfter(const std::string& Output, const std::string& Label) {
  const std::size_t at = Output.find(Label + "=");
  if (at == std::string::npos) return "(no " + Label + ")";
  const std::size_t start = at + Label.size() + 1;
  return Output.substr(start, Output.find('\n', start) - start);
}

class CertificateViewTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunCommand("openssl version").status, 0) << "the openssl command line is needed";
    ca.Subject.CN = "View CA";
    ca.IsCA = true;
    ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
    ca.ExtKeyUsage = {};
    ca.GenerateKey();
    ca.BuildSelfSigned();
    leaf.KeyType = ktRSA;
    leaf.Subject.CN = "leaf.example";
    leaf.Subject.O = "Example";
    leaf.SANDNSNames = {"leaf.example"};
    leaf.SANIPs = {"10.0.0.1"};
    leaf.GenerateKey();
    leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
  }
  TTempDir dir;
  TCertBuilder ca, leaf;
};

TEST_F(CertificateViewTest, SerialAndFingerprintsAreWhatOpenSSLPrints) {
  for (TCertBuilder* builder : {&ca, &leaf}) {
    SCOPED_TRACE(builder->Subject.CN);
    const std::string file = dir / (builder->Subject.CN + ".pem");
    builder->SaveCertToPEM(file);
    const TRun sha256 =
        RunCommand("openssl x509 -noout -serial -fingerprint -sha256 -in " + Quoted(file));
    const TRun sha1 = RunCommand("openssl x509 -noout -fingerprint -sha1 -in " + Quoted(file));
    ASSERT_EQ(sha256.status, 0) << sha256.output;
    ASSERT_EQ(sha1.status, 0) << sha1.output;
    const TCertificateView view(builder->Cert());
    EXPECT_EQ(view.SerialHex(), ValueAfter(sha256.output, "serial"));
    EXPECT_EQ(view.Fingerprint(TFingerprintDigest::SHA256),
              ValueAfter(sha256.output, "sha256 Fingerprint"));
    EXPECT_EQ(view.Fingerprint(TFingerprintDigest::SHA1),
              ValueAfter(sha1.output, "sha1 Fingerprint"));
  }
}

TEST_F(CertificateViewTest, NamesExtensionsAndKeyFacts) {
  const TCertificateView view(leaf.Cert());
  EXPECT_EQ(view.SubjectText(), "O=Example, CN=leaf.example");
  EXPECT_EQ(view.IssuerText(), "CN=View CA");
  EXPECT_EQ(view.ExtensionText(TCertExtension::SubjectAltName),
            std::optional<std::string>("DNS:leaf.example, IP Address:10.0.0.1"));
  EXPECT_EQ(view.ExtensionText(TCertExtension::BasicConstraints),
            std::optional<std::string>("CA:FALSE"));
  EXPECT_EQ(view.PathLength(), std::nullopt);
  EXPECT_EQ(view.SignatureAlgorithm(), "ecdsa-with-SHA256");
  const TCertificateView authority(ca.Cert());
  EXPECT_EQ(authority.ExtensionText(TCertExtension::BasicConstraints),
            std::optional<std::string>("CA:TRUE, pathlen:0 (critical)"));
  EXPECT_EQ(authority.PathLength(), std::optional<long>(0));
  EXPECT_TRUE(view.HasPublicKeyOf(leaf.Key()));
  EXPECT_FALSE(view.HasPublicKeyOf(ca.Key()));
  const TPublicKeyFacts facts = PublicKeyFactsOf(leaf.Key());
  EXPECT_EQ(facts.Family, ctRSA);
  EXPECT_EQ(facts.Bits, 2048);
}

TEST_F(CertificateViewTest, IssuedByNeedsNameAndSignature) {
  const TCertificateView caView(ca.Cert()), leafView(leaf.Cert());
  EXPECT_TRUE(leafView.IsIssuedBy(caView));
  EXPECT_TRUE(caView.IsIssuedBy(caView));
  EXPECT_FALSE(caView.IsIssuedBy(leafView));
  EXPECT_FALSE(leafView.IsIssuedBy(leafView));
  // Another CA of the same name: the names agree, the signature does not.
  TCertBuilder twin;
  twin.Subject.CN = "View CA";
  twin.IsCA = true;
  twin.GenerateKey();
  twin.BuildSelfSigned();
  EXPECT_FALSE(leafView.IsIssuedBy(TCertificateView(twin.Cert())));
}

TEST_F(CertificateViewTest, OneReaderForPEMAndDER) {
  const std::string pem = leaf.CertToPEM();
  const TCertificateView original(leaf.Cert());
  const std::string der = [&] {
    unsigned char* bytes = nullptr;
    const int size = i2d_X509(leaf.Cert(), &bytes);
    std::string text(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(size));
    OPENSSL_free(bytes);
    return text;
  }();
  struct Case {
    const char* name;
    std::string bytes;
    bool reads;
    bool readsAsWholeDER;
  };
  const Case cases[] = {
      {"PEM", pem, true, false},     {"PEMAfterText", "Bag Attributes\n" + pem, true, false},
      {"DER", der, true, true},      {"DERWithTrailingBytes", der + "xx", true, false},
      {"Nothing", "", false, false}, {"Text", "not a certificate\n", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    X509Ptr cert = ReadCertificatePEMOrDER(c.bytes);
    ASSERT_EQ(cert != nullptr, c.reads);
    if (cert) {
      EXPECT_EQ(TCertificateView(std::move(cert)).Fingerprint(TFingerprintDigest::SHA256),
                original.Fingerprint(TFingerprintDigest::SHA256));
    }
    EXPECT_EQ(ReadCertificateDER(c.bytes, true) != nullptr, c.readsAsWholeDER);
    EXPECT_EQ(ERR_peek_error(), 0UL);
  }
}

}  // namespace
}  // namespace velmora::test
