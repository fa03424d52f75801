// A CA certificate without a subject key identifier, as older tools and hand-written
// configurations make them, signs like any other: the new certificate then names its CA by
// the CA's issuer and serial number, and verifiers find the chain.
#include "tests/crypto/BuilderTestSupport.h"
#include "tests/support/RunCommand.h"

namespace velmora::test {
namespace {

TEST(SignerWithoutKeyId, SignsAndTheOpensslCommandLineVerifiesTheResult) {
  ASSERT_EQ(RunCommand("openssl version").status, 0) << "the openssl command line is needed";
  TTempDir dir;
  const std::string caCert = dir / "ca.crt", caKey = dir / "ca.key", leaf = dir / "leaf.crt";
  // "openssl req -x509" adds a key identifier unless told "none".
  const TRun made = RunCommand(
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30"
      " -subj /CN=No-Key-Id-CA -keyout " +
      Quoted(caKey) + " -out " + Quoted(caCert) +
      " -addext subjectKeyIdentifier=none -addext authorityKeyIdentifier=none"
      " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign");
  ASSERT_EQ(made.status, 0) << made.output;
  const TRun text = RunCommand("openssl x509 -noout -text -in " + Quoted(caCert));
  ASSERT_EQ(text.output.find("Subject Key Identifier"), std::string::npos) << text.output;

  TCertBuilder builder;
  builder.Subject.CN = "leaf.example";
  builder.SANDNSNames = {"leaf.example"};
  builder.KeyUsage = {kuDigitalSignature};
  builder.GenerateKey();
  const std::string message =
      MessageOf([&] { builder.BuildSignedBy(ReadFileBytes(caCert), ReadFileBytes(caKey), ""); });
  ASSERT_EQ(message, "(no failure)");
  builder.SaveCertToPEM(leaf);

  // Named by issuer and serial, not by a key identifier the CA does not have.
  const X509Ptr ca = CertFromPEM(ReadFileBytes(caCert));
  ASSERT_NE(ca, nullptr);
  EXPECT_EQ(X509_get0_authority_key_id(builder.Cert()), nullptr);
  const GENERAL_NAMES* issuer = X509_get0_authority_issuer(builder.Cert());
  ASSERT_NE(issuer, nullptr);
  ASSERT_EQ(sk_GENERAL_NAME_num(issuer), 1);
  const GENERAL_NAME* name = sk_GENERAL_NAME_value(issuer, 0);
  ASSERT_EQ(name->type, GEN_DIRNAME);
  EXPECT_EQ(X509_NAME_cmp(name->d.directoryName, X509_get_issuer_name(ca.get())), 0);
  ASSERT_NE(X509_get0_authority_serial(builder.Cert()), nullptr);
  EXPECT_EQ(ASN1_INTEGER_cmp(X509_get0_authority_serial(builder.Cert()),
                             X509_get0_serialNumber(ca.get())),
            0);

  const TRun verify = RunCommand("openssl verify -purpose sslserver -CAfile " + Quoted(caCert) +
                                 " " + Quoted(leaf));
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_EQ(verify.output, leaf + ": OK\n");
}

TEST(SignerWithoutKeyId, ACAWithAKeyIdIsStillNamedByIt) {
  TCertBuilder ca;
  ca.Subject.CN = "Key Id CA";
  ca.IsCA = true;
  ca.KeyUsage = {kuKeyCertSign};
  ca.GenerateKey();
  ca.BuildSelfSigned();
  TCertBuilder leaf;
  leaf.Subject.CN = "leaf.example";
  leaf.GenerateKey();
  leaf.BuildSignedBy(ca.CertToPEM(), ca.KeyToPEM(""), "");
  const ASN1_OCTET_STRING* keyId = X509_get0_authority_key_id(leaf.Cert());
  ASSERT_NE(keyId, nullptr);
  EXPECT_EQ(ASN1_OCTET_STRING_cmp(keyId, X509_get0_subject_key_id(ca.Cert())), 0);
  EXPECT_EQ(X509_get0_authority_issuer(leaf.Cert()), nullptr);
}

}  // namespace
}  // namespace velmora::test
