// Certificates issued by a CA handed over as PEM text.
#include "BuilderTestSupport.h"

namespace velmora::test {
namespace {

bool SameOctets(const ASN1_OCTET_STRING* a, const ASN1_OCTET_STRING* b) {
  return a != nullptr && b != nullptr && ASN1_OCTET_STRING_cmp(a, b) == 0;
}

TEST(BuildSignedBy, IssuedByTheCAWithItsKeyIdentifierInSecondPlace) {
  X509Ptr ca = CertFromPEM(FirstCA().certPEM);
  ASSERT_NE(ca, nullptr);
  TNamedBuilder leaf;
  leaf.Subject.CN = "leaf.example";
  leaf.GenerateKey();
  leaf.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");
  X509* cert = leaf.Cert();
  ASSERT_NE(cert, nullptr);

  EXPECT_EQ(X509_get_version(cert), 2);
  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(ca.get())), 0);
  EXPECT_EQ(SubjectOneLine(X509_get_subject_name(cert)), "CN = leaf.example");
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert), leaf.Key()), 1);
  EXPECT_EQ(X509_verify(cert, X509_get0_pubkey(ca.get())), 1);
  EXPECT_NE(X509_verify(cert, leaf.Key()), 1);

  EXPECT_EQ(ExtensionNIDsOf(cert),
            (std::vector<int>{NID_subject_key_identifier, NID_authority_key_identifier,
                              NID_basic_constraints, NID_key_usage, NID_ext_key_usage}));
  EXPECT_FALSE(ExtensionsOf(cert)[1].critical);
  EXPECT_TRUE(SameOctets(X509_get0_authority_key_id(cert), X509_get0_subject_key_id(ca.get())));
  EXPECT_FALSE(SameOctets(X509_get0_subject_key_id(cert), X509_get0_subject_key_id(ca.get())))
      << "the subject key identifier must be the leaf's own";
}

TEST(BuildSignedBy, TheFirstCertificateOfAChainIsTheCA) {
  X509Ptr second = CertFromPEM(SecondCA().certPEM);
  TNamedBuilder leaf;
  leaf.GenerateKey();
  leaf.BuildSignedBy(SecondCA().certPEM + FirstCA().certPEM, SecondCA().keyPEM, "");
  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(leaf.Cert()), X509_get_subject_name(second.get())),
            0);
  EXPECT_EQ(X509_verify(leaf.Cert(), X509_get0_pubkey(second.get())), 1);
}

TEST(BuildSignedBy, ReadsAnEncryptedCAKeyWithItsPasswordAndAPlainOneWithAnyPassword) {
  X509Ptr ca = CertFromPEM(FirstCA().certPEM);
  const std::pair<std::string, std::string> keys[] = {
      {FirstCA().encryptedKeyPEM, CAKeyPasswordFor},
      {FirstCA().keyPEM, ""},
      {FirstCA().keyPEM, "not needed"},
  };
  TNamedBuilder leaf;
  leaf.GenerateKey();
  for (const auto& [keyPEM, password] : keys) {
    SCOPED_TRACE(keyPEM.substr(0, 38) + " / password '" + password + "'");
    leaf.BuildSignedBy(FirstCA().certPEM, keyPEM, password);
    EXPECT_EQ(X509_verify(leaf.Cert(), X509_get0_pubkey(ca.get())), 1);
  }
}

TEST(BuildSignedBy, UnreadableCAMaterialFailsWithItsStepAndLeavesNoCertificate) {
  const std::string malformed =
      "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n";
  struct Case {
    const char* name;
    std::string certPEM, keyPEM, password;
    const char* prefix;
  };
  const Case cases[] = {
      {"empty CA certificate", "", FirstCA().keyPEM, "", "PEM_read_bio_X509 (CA cert). OpenSSL: "},
      {"malformed CA certificate", malformed, FirstCA().keyPEM, "",
       "PEM_read_bio_X509 (CA cert). OpenSSL: "},
      {"wrong CA key password", FirstCA().certPEM, FirstCA().encryptedKeyPEM, "wrong",
       "PEM_read_bio_PrivateKey (CA). OpenSSL: "},
      {"encrypted CA key without password", FirstCA().certPEM, FirstCA().encryptedKeyPEM, "",
       "PEM_read_bio_PrivateKey (CA). OpenSSL: "},
      {"no key in the CA key text", FirstCA().certPEM, FirstCA().certPEM, "",
       "PEM_read_bio_PrivateKey (CA). OpenSSL: "},
  };
  TNamedBuilder leaf;
  leaf.GenerateKey();
  EVP_PKEY* key = leaf.Key();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    leaf.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");  // a certificate to lose
    const std::string message =
        MessageOf([&] { leaf.BuildSignedBy(c.certPEM, c.keyPEM, c.password); });
    EXPECT_TRUE(StartsWith(message, c.prefix)) << message;
    EXPECT_EQ(leaf.Cert(), nullptr);
    EXPECT_EQ(leaf.Key(), key);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST(BuildSignedBy, ACAKeyOfAnotherCertificateIsRefusedBeforeAnythingIsBuilt) {
  struct Case {
    const char* name;
    std::string keyPEM;
    const char* password;
  };
  const Case cases[] = {
      {"plain key of another CA", SecondCA().keyPEM, ""},
      {"encrypted key of another CA", MakeCA("Third").encryptedKeyPEM, CAKeyPasswordFor}};
  TNamedBuilder leaf;
  leaf.GenerateKey();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    leaf.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");  // a certificate to lose
    EXPECT_EQ(MessageOf([&] { leaf.BuildSignedBy(FirstCA().certPEM, c.keyPEM, c.password); }),
              "The CA private key does not belong to the CA certificate.");
    EXPECT_EQ(leaf.Cert(), nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST(BuildSignedBy, DigestFollowsTheCAKeyNotTheSubjectKeySettings) {
  // A subject whose settings say RSA-4096 under a P-256 CA: the CA's key signs, so ECDSA with
  // SHA-256, whatever the subject's settings would have chosen for a key of its own.
  TNamedBuilder leaf;
  leaf.KeyType = ktRSA;
  leaf.GenerateKey();
  leaf.RSABits = 4096;
  leaf.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");
  EXPECT_EQ(X509_get_signature_nid(leaf.Cert()), NID_ecdsa_with_SHA256);
  X509Ptr ca = CertFromPEM(FirstCA().certPEM);
  EXPECT_EQ(X509_verify(leaf.Cert(), X509_get0_pubkey(ca.get())), 1);
}

}  // namespace
}  // namespace velmora::test
