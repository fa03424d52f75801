// The certificate body (subject, serial, validity, digest) and the life of the builder's
// certificate, seen through self-signed builds.
#include "BuilderTestSupport.h"

#include <cstdint>
#include <ctime>
#include <set>
#include <utility>

namespace velmora::test {
namespace {

struct TNameEntry {
  int nid;
  std::string value;  // as UTF-8
  int set;            // index of the relative distinguished name holding it
  bool operator==(const TNameEntry&) const = default;
};

void PrintTo(const TNameEntry& e, std::ostream* os) {
  *os << "{" << OBJ_nid2sn(e.nid) << "=" << e.value << " in set " << e.set << "}";
}

std::vector<TNameEntry> EntriesOf(const X509_NAME* name) {
  std::vector<TNameEntry> entries;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    entries.push_back(
        {OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)),
         length < 0 ? "(undecodable)"
                    : std::string(reinterpret_cast<char*>(utf8), static_cast<size_t>(length)),
         X509_NAME_ENTRY_set(entry)});
    OPENSSL_free(utf8);
  }
  return entries;
}

std::string Bytes(const ASN1_OCTET_STRING* s) {
  if (s == nullptr) return "(none)";
  return {reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
          static_cast<size_t>(ASN1_STRING_length(s))};
}

std::string SHA1OfPublicKey(const X509* cert) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_pubkey_digest(cert, EVP_sha1(), md, &length) != 1) return "(no digest)";
  return {reinterpret_cast<const char*>(md), length};
}

TEST(BuildSelfSigned, DefaultSettingsGiveVersion3WithTheFourExtensionsInOrder) {
  TNamedBuilder b;
  b.GenerateKey();
  b.BuildSelfSigned();
  X509* cert = b.Cert();
  ASSERT_NE(cert, nullptr);

  EXPECT_EQ(X509_get_version(cert), 2);
  EXPECT_EQ(EntriesOf(X509_get_subject_name(cert)).size(), 1u);
  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(cert)), 0);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cert), b.Key()), 1);
  EXPECT_EQ(X509_verify(cert, X509_get0_pubkey(cert)), 1);

  const std::vector<TExtension> ext = ExtensionsOf(cert);
  ASSERT_EQ(ext.size(), 4u);
  EXPECT_EQ(ext[0].nid, NID_subject_key_identifier);
  EXPECT_FALSE(ext[0].critical);
  EXPECT_EQ(Bytes(X509_get0_subject_key_id(cert)), SHA1OfPublicKey(cert));
  EXPECT_EQ(ext[1].nid, NID_basic_constraints);
  EXPECT_FALSE(ext[1].critical);
  EXPECT_EQ(ext[1].text, "CA:FALSE");
  EXPECT_EQ(ext[2].nid, NID_key_usage);
  EXPECT_TRUE(ext[2].critical);
  EXPECT_EQ(ext[2].text, "Digital Signature, Key Encipherment");
  EXPECT_EQ(ext[3].nid, NID_ext_key_usage);
  EXPECT_FALSE(ext[3].critical);
  EXPECT_EQ(ext[3].text, "TLS Web Server Authentication, TLS Web Client Authentication");
}

TEST(BuildSelfSigned, SerialsAreFreshNonNegativeAndAtMost20Octets) {
  TNamedBuilder b;
  b.GenerateKey();
  std::set<std::vector<unsigned char>> seen;
  // Half of all 20 random bytes have the top bit set; 16 builds make a missed clearing show.
  for (int i = 0; i < 16; ++i) {
    b.BuildSelfSigned();
    const ASN1_INTEGER* serial = X509_get0_serialNumber(b.Cert());
    EXPECT_EQ(ASN1_STRING_type(serial), V_ASN1_INTEGER);  // not V_ASN1_NEG_INTEGER
    std::vector<unsigned char> der(static_cast<size_t>(i2d_ASN1_INTEGER(serial, nullptr)));
    unsigned char* out = der.data();
    i2d_ASN1_INTEGER(serial, &out);
    ASSERT_GE(der.size(), 3u);
    EXPECT_LE(der[1], 20) << "content octets";
    EXPECT_LE(der[2], 0x7F);
    seen.insert(der);
  }
  EXPECT_EQ(seen.size(), 16u);
}

TEST(BuildSelfSigned, ValidityRunsValidDaysFromNow) {
  TNamedBuilder b;
  b.GenerateKey();
  for (const int days : {365, 36500, 0, -30}) {
    SCOPED_TRACE(days);
    b.ValidDays = days;
    const std::time_t before = std::time(nullptr);
    b.BuildSelfSigned();
    const ASN1_TIME* notBefore = X509_get0_notBefore(b.Cert());
    const ASN1_TIME* notAfter = X509_get0_notAfter(b.Cert());
    int d = 0, s = 0;
    ASSERT_EQ(ASN1_TIME_diff(&d, &s, notBefore, notAfter), 1);
    const std::int64_t span = std::int64_t{d} * 86400 + s;
    const std::int64_t expected = std::int64_t{days} * 86400;
    // The clock is read twice; its second may turn in between.
    EXPECT_TRUE(span == expected || span == expected + 1) << span;
    std::time_t justBefore = before - 1, after = std::time(nullptr);
    EXPECT_EQ(X509_cmp_time(notBefore, &justBefore), 1) << "notBefore lies before the build";
    EXPECT_EQ(X509_cmp_time(notBefore, &after), -1) << "notBefore lies after the build";
  }
}

TEST(BuildSelfSigned, ValidityPastTheYear9999IsRefusedNotSigned) {
  TNamedBuilder b;
  b.GenerateKey();
  b.ValidDays = 3'000'000;  // about 8,200 years
  EXPECT_EQ(MessageOf([&] { b.BuildSelfSigned(); }),
            "X509_gmtime_adj (notAfter). (No OpenSSL error queued.)");
  EXPECT_EQ(b.Cert(), nullptr);
}

TEST(BuildSelfSigned, SubjectEntriesInFixedOrderEachInItsOwnSetAsUTF8) {
  TNamedBuilder b;
  b.Subject.CN = "ü.example";
  b.Subject.O = "Ωmega Ltd";
  b.Subject.OU = "Büro 北";
  b.Subject.C = "DE";
  b.Subject.ST = "Bayern";
  b.Subject.L = "München";
  b.Subject.Email = "pki@example.org";
  b.GenerateKey();
  b.BuildSelfSigned();
  const std::vector<TNameEntry> expected = {
      {NID_countryName, "DE", 0},
      {NID_stateOrProvinceName, "Bayern", 1},
      {NID_localityName, "München", 2},
      {NID_organizationName, "Ωmega Ltd", 3},
      {NID_organizationalUnitName, "Büro 北", 4},
      {NID_commonName, "ü.example", 5},
      {NID_pkcs9_emailAddress, "pki@example.org", 6},
  };
  EXPECT_EQ(EntriesOf(X509_get_subject_name(b.Cert())), expected);
}

TEST(BuildSelfSigned, AnEntryLibcryptoRefusesFailsTheBuildNamingFieldAndValue) {
  struct Case {
    const char* name;
    std::string TSubjectDN::*field;
    std::string value;
    std::string expected;  // the message up to libcrypto's reason
  };
  const Case cases[] = {
      {"three-letter country", &TSubjectDN::C, "USA", "Subject field C = \"USA\". OpenSSL: "},
      {"one-letter country", &TSubjectDN::C, "U", "Subject field C = \"U\". OpenSSL: "},
      {"65-character name", &TSubjectDN::CN, std::string(65, 'a'),
       "Subject field CN = \"" + std::string(65, 'a') + "\". OpenSSL: "},
      {"non-ASCII e-mail", &TSubjectDN::Email, "\u00fc@example.org",
       "Subject field emailAddress = \"\u00fc@example.org\". OpenSSL: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TNamedBuilder b;
    b.Subject.O = "Kept";
    b.Subject.*c.field = c.value;
    b.SANIPs = {"999.1.1.1"};  // a later step that would fail too
    b.GenerateKey();
    const std::string message = MessageOf([&] { b.BuildSelfSigned(); });
    EXPECT_TRUE(StartsWith(message, c.expected)) << message;
    EXPECT_GT(message.size(), c.expected.size()) << "libcrypto's reason follows";
    EXPECT_EQ(b.Cert(), nullptr);
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
  // At the limits every entry is kept.
  TNamedBuilder b;
  b.Subject.C = "DE";
  b.Subject.OU = std::string(64, 'b');
  b.GenerateKey();
  b.BuildSelfSigned();
  EXPECT_EQ(EntriesOf(X509_get_subject_name(b.Cert())).size(), 3u);
}

TEST(BuildSelfSigned, ACertificateMustNameSomeone) {
  TCertBuilder b;
  b.GenerateKey();
  EXPECT_EQ(MessageOf([&] { b.BuildSelfSigned(); }),
            "A certificate needs a subject or a subject alternative name.");
  EXPECT_EQ(b.Cert(), nullptr);

  // Alternative names alone will do, and then they are critical; beside a subject they are not.
  b.SANDNSNames = {"only.example"};
  b.BuildSelfSigned();
  const std::vector<TExtension> alone = ExtensionsOf(b.Cert());
  ASSERT_EQ(alone.back().nid, NID_subject_alt_name);
  EXPECT_TRUE(alone.back().critical);
  b.Subject.CN = "named.example";
  b.BuildSelfSigned();
  EXPECT_FALSE(ExtensionsOf(b.Cert()).back().critical);
}

TEST(SignatureDigest, TheRuleAtTheEdges) {
  // The rule on a key's facts, so that no RSA key of thousands of bits has to be made.
  struct Case {
    const char* name;
    TKeyType type;
    const char* curve;
    std::int32_t bits;
    int digestNID;  // NID_undef: no digest
  };
  const Case cases[] = {
      {"RSA 2048", ktRSA, "P-521", 2048, NID_sha256},
      {"RSA 3071", ktRSA, "P-521", 3071, NID_sha256},
      {"RSA 3072", ktRSA, "P-521", 3072, NID_sha384},
      {"RSA 4095", ktRSA, "P-521", 4095, NID_sha384},
      {"RSA 4096", ktRSA, "P-256", 4096, NID_sha512},
      {"RSA 8192", ktRSA, "P-256", 8192, NID_sha512},
      {"P-256", ktECC, "P-256", 8192, NID_sha256},
      {"P-384", ktECC, "P-384", 8192, NID_sha384},
      {"P-521", ktECC, "P-521", 8192, NID_sha512},
      {"secp256k1", ktECC, "secp256k1", 8192, NID_sha256},
      {"Edwards", ktEdwards, "P-521", 8192, NID_undef},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EVP_MD* digest = SignatureDigestBy(c.type, c.bits, c.curve);
    EXPECT_EQ(digest ? EVP_MD_get_type(digest) : NID_undef, c.digestNID);
  }
}

TEST(BuildSelfSigned, DigestFollowsTheKeyHeldNotTheSettings) {
  // Settings that would call for SHA-512 on keys that call for SHA-256 and none.
  struct Case {
    const char* name;
    TKeyType type;
    const char* algorithm;
    int signatureNID;
  };
  const Case cases[] = {
      {"RSA 2048", ktRSA, "", NID_sha256WithRSAEncryption},
      {"P-256", ktECC, "", NID_ecdsa_with_SHA256},
      {"Ed25519", ktEdwards, kEd25519, NID_ED25519},
      {"Ed448", ktEdwards, kEd448, NID_ED448},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TNamedBuilder b;
    b.KeyType = c.type;
    b.EdAlgorithm = c.algorithm;
    b.GenerateKey();
    b.KeyType = c.type == ktRSA ? ktECC : ktRSA;
    b.RSABits = 8192;
    b.ECCurve = "P-521";
    b.BuildSelfSigned();
    EXPECT_EQ(X509_get_signature_nid(b.Cert()), c.signatureNID)
        << OBJ_nid2ln(X509_get_signature_nid(b.Cert()));
    EXPECT_EQ(X509_verify(b.Cert(), b.Key()), 1);
  }
}

TEST(BuildSelfSigned, NeedsAKeyAndThenLeavesAnExistingCertificateAlone) {
  TNamedBuilder fresh;
  EXPECT_EQ(MessageOf([&] { fresh.BuildSelfSigned(); }), "Call GenerateKey first.");
  EXPECT_EQ(fresh.Cert(), nullptr);

  TNamedBuilder b;
  b.GenerateKey();
  b.BuildSelfSigned();
  X509* cert = b.Cert();
  b.KeyType = ktRSA;
  b.RSABits = 256;  // libcrypto refuses it: the builder ends without a key pair
  EXPECT_NE(MessageOf([&] { b.GenerateKey(); }), "(no failure)");
  ASSERT_EQ(b.Key(), nullptr);
  EXPECT_EQ(MessageOf([&] { b.BuildSelfSigned(); }), "Call GenerateKey first.");
  EXPECT_EQ(MessageOf([&] { b.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, ""); }),
            "Call GenerateKey first.");
  EXPECT_EQ(b.Cert(), cert);
}

TEST(BuildSelfSigned, AFailedRebuildLeavesNoCertificateAndTheSameKey) {
  TNamedBuilder b;
  b.GenerateKey();
  b.BuildSelfSigned();
  EVP_PKEY* key = b.Key();
  b.SANDNSNames = {""};
  EXPECT_NE(MessageOf([&] { b.BuildSelfSigned(); }), "(no failure)");
  EXPECT_EQ(b.Cert(), nullptr);
  EXPECT_EQ(b.Key(), key);
}

TEST(GenerateKey, LeavesTheCertificateUntouched) {
  TNamedBuilder b;
  b.GenerateKey();
  b.BuildSelfSigned();
  X509* cert = b.Cert();
  const std::string pem = b.CertToPEM();
  b.GenerateKey();
  EXPECT_EQ(b.Cert(), cert);
  EXPECT_EQ(b.CertToPEM(), pem);
  EXPECT_NE(EVP_PKEY_eq(X509_get0_pubkey(b.Cert()), b.Key()), 1) << "the key pair is new";
}

// The public key is written into the certificate without libcrypto's encoder for EC keys:
// the bytes must be exactly the encoder's, and the certificate must still hand out its key.
TEST(BuildSelfSigned, PublicKeyInfoIsTheEncodersBytesForEveryKeyKind) {
  struct Case {
    const char* name;
    TKeyType type;
    const char* curve;
    bool signedByCA;
  };
  const Case cases[] = {{"P-256", ktECC, "P-256", false},
                        {"P-384", ktECC, "P-384", false},
                        {"P-521", ktECC, "P-521", true},
                        {"secp256k1", ktECC, "secp256k1", false},
                        // No object identifier: written with its explicit parameters.
                        {"Oakley-EC2N-3", ktECC, "Oakley-EC2N-3", true},
                        {"RSA-2048", ktRSA, "P-256", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TNamedBuilder b;
    b.KeyType = c.type;
    b.ECCurve = c.curve;
    b.GenerateKey();
    if (c.signedByCA) {
      b.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");
    } else {
      b.BuildSelfSigned();
    }
    const X509Ptr fromPEM = CertFromPEM(b.CertToPEM());
    ASSERT_NE(fromPEM, nullptr);
    unsigned char* expected = nullptr;
    const int expectedLength = i2d_PUBKEY(b.Key(), &expected);
    unsigned char* actual = nullptr;
    const int actualLength = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(fromPEM.get()), &actual);
    ASSERT_GT(expectedLength, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(actual), actualLength),
              std::string(reinterpret_cast<char*>(expected), expectedLength));
    OPENSSL_free(expected);
    OPENSSL_free(actual);
    if (!c.signedByCA) {
      EXPECT_EQ(X509_verify(fromPEM.get(), b.Key()), 1);
    }
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(b.Cert()), b.Key()), 1);
    EXPECT_EQ(X509_check_private_key(b.Cert(), b.Key()), 1);
  }
}

TEST(GenerateKey, ACertificateNotLookedAtYetKeepsItsOwnKey) {
  TNamedBuilder b;
  b.GenerateKey();
  b.BuildSelfSigned();
  const std::string pem = b.CertToPEM();  // the certificate's bytes only
  b.GenerateKey();
  const X509Ptr original = CertFromPEM(pem);
  ASSERT_NE(original, nullptr);
  EXPECT_EQ(b.CertToPEM(), pem);
  EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(b.Cert()), X509_get0_pubkey(original.get())), 1);
  EXPECT_NE(EVP_PKEY_eq(X509_get0_pubkey(b.Cert()), b.Key()), 1);
  EXPECT_EQ(b.CertToPEM(), pem);
}

}  // namespace
}  // namespace velmora::test
