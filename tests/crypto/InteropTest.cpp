// Our files as another tool sees them: the openssl command line reads and checks them.
#include "BuilderTestSupport.h"
#include "tests/support/RunCommand.h"

#include <functional>

namespace velmora::test {
namespace {

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class OpenSSLCommandLine : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunCommand("openssl version").status, 0) << "the openssl command line is needed";
    ca.Subject.CN = "Velmora Interop CA";
    ca.IsCA = true;
    ca.PathLenConstraint = 0;
    ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
    ca.ExtKeyUsage = {};
    ca.GenerateKey();
    ca.BuildSelfSigned();
    leaf.Subject.CN = "leaf.example";
    leaf.SANDNSNames = {"leaf.example"};
    leaf.GenerateKey();
    leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM("ca key pass"), "ca key pass");
  }
  TTempDir dir;
  TCertBuilder ca, leaf;
};

TEST_F(OpenSSLCommandLine, VerifiesTheCASignedLeafAgainstItsCAOnly) {
  const std::string caFile = dir / "ca.pem", leafFile = dir / "leaf.pem",
                    otherFile = dir / "other.pem";
  ca.SaveCertToPEM(caFile);
  leaf.SaveCertToPEM(leafFile);
  WriteFileBytes(otherFile, SecondCA().certPEM);

  const TRun ok = RunCommand("openssl verify -x509_strict -purpose sslserver -CAfile " +
                             Quoted(caFile) + " " + Quoted(leafFile));
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_EQ(ok.output, leafFile + ": OK\n");

  const TRun wrong =
      RunCommand("openssl verify -CAfile " + Quoted(otherFile) + " " + Quoted(leafFile));
  EXPECT_NE(wrong.status, 0) << wrong.output;
}

TEST_F(OpenSSLCommandLine, ReadsTheBundleWith2048MacIterationsAndTheEncryptedKey) {
  const std::string bundleFile = dir / "leaf.p12", keyFile = dir / "leaf.key";
  leaf.SaveToPKCS12(bundleFile, "bundle-pass", "Velmora leaf", ca.CertToPEM());
  leaf.SaveKeyToPEM(keyFile, "key-pass");

  const TRun info =
      RunCommand("openssl pkcs12 -info -noout -passin pass:bundle-pass -in " + Quoted(bundleFile));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("MAC: sha256, Iteration 2048\n"), std::string::npos) << info.output;
  EXPECT_EQ(Count(info.output, "Certificate bag"), 2u) << info.output;
  EXPECT_EQ(Count(info.output, "Shrouded Keybag"), 1u) << info.output;
  EXPECT_NE(
      RunCommand("openssl pkcs12 -info -noout -passin pass:wrong -in " + Quoted(bundleFile)).status,
      0);

  EXPECT_EQ(RunCommand("openssl pkey -noout -passin pass:key-pass -in " + Quoted(keyFile)).status,
            0);
  EXPECT_NE(RunCommand("openssl pkey -noout -passin pass:wrong -in " + Quoted(keyFile)).status, 0);
}

// Certificates that strict verification used to refuse: a leaf whose CA key was another
// pair's, a self-signed certificate whose subject e-mail a "move" took away, names without a
// subject, a time-stamping certificate. The first two are refused now, the rest verify.
TEST_F(OpenSSLCommandLine, StrictVerificationAcceptsWhatWeIssueAndWeRefuseTheRest) {
  TCertBuilder mismatched;
  mismatched.Subject.CN = "mismatched.example";
  mismatched.GenerateKey();
  EXPECT_EQ(MessageOf([&] { mismatched.BuildSignedBy(ca.CertToPEM(), SecondCA().keyPEM, ""); }),
            "The CA private key does not belong to the CA certificate.");
  TCertBuilder moved;
  moved.Subject.CN = "moved.example";
  moved.Subject.Email = "me@moved.example";
  moved.SANEmails = {"move"};
  moved.GenerateKey();
  EXPECT_EQ(MessageOf([&] { moved.BuildSelfSigned(); }),
            "Invalid subject alternative name \"move\".");

  struct Case {
    const char* name;
    std::function<void(TCertBuilder&)> configure;
    const char* purpose;
  };
  const Case cases[] = {
      {"e-mail in subject and names",
       [](TCertBuilder& b) {
         b.Subject.CN = "mail.example";
         b.Subject.Email = "me@mail.example";
         b.SANEmails = {"me@mail.example"};
         b.ExtKeyUsage = {ekuEmailProtection};
       },
       "smimesign"},
      {"names without a subject", [](TCertBuilder& b) { b.SANDNSNames = {"nameless.example"}; },
       "sslserver"},
      {"time stamping",
       [](TCertBuilder& b) {
         b.Subject.CN = "Velmora TSA";
         b.KeyUsage = {kuDigitalSignature};
         b.ExtKeyUsage = {ekuTimeStamping};
       },
       "timestampsign"},
  };
  const std::string caFile = dir / "ca.pem";
  ca.SaveCertToPEM(caFile);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCertBuilder b;
    c.configure(b);
    b.GenerateKey();
    b.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
    const std::string file = dir / "issued.pem";
    b.SaveCertToPEM(file);
    const TRun run = RunCommand("openssl verify -x509_strict -purpose " + std::string(c.purpose) +
                                " -CAfile " + Quoted(caFile) + " " + Quoted(file));
    EXPECT_EQ(run.status, 0) << run.output;
  }
}

}  // namespace
}  // namespace velmora::test
