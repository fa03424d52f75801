// What the store panel and `velmora-cli info` tell about a file beyond its key facts: a
// certificate's names, dates, extensions and fingerprints (PEM or DER), a bundle's contents,
// a key readable by others, and which files of the store belong together.
#include "core/CertDetails.h"
#include "core/Store.h"
#include "core/StoreRelations.h"
#include "crypto/CertBuilder.h"
#include "tests/support/CryptoFixtures.h"
#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

namespace velmora::test {
namespace {

// Local dates in the lines are the machine's: the tests fix the zone and the locale.
class CertDetails : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }

  // The line that starts with Label, without it; "(absent)" when there is none.
  static std::string Field(const std::vector<std::string>& Lines, const std::string& Label) {
    for (const std::string& line : Lines)
      if (line.rfind(Label, 0) == 0) return line.substr(Label.size());
    return "(absent)";
  }

  // What `openssl x509` prints for the file after the "=" of its answer.
  static std::string OpenSSLSays(const std::string& Options, const std::string& File) {
    const TRun run = RunCommand("openssl x509 -noout " + Options + " -in " + Quoted(File));
    EXPECT_EQ(run.status, 0) << run.output;
    const std::size_t equals = run.output.find('=');
    std::string value = equals == std::string::npos ? run.output : run.output.substr(equals + 1);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
  }

  TempDir Store;
};

// A leaf as the window makes it: names, usages and key identifiers.
std::unique_ptr<TCertBuilder> MakeLeaf(TKeyType Type) {
  auto builder = std::make_unique<TCertBuilder>();
  builder->KeyType = Type;
  builder->Subject.CN = "www.example.test";
  builder->Subject.O = "Example Ltd";
  builder->Subject.C = "DE";
  builder->SANDNSNames = {"www.example.test", "example.test"};
  builder->SANIPs = {"192.0.2.7"};
  builder->ValidDays = 90;
  builder->GenerateKey();
  builder->BuildSelfSigned();
  return builder;
}

TEST_F(CertDetails, ACertificateShowsWhatOpenSSLReadsInIt) {
  struct Case {
    TKeyType type;
    const char* name;
    const char* signature;
  };
  for (const Case& c : {Case{ktRSA, "rsa.crt", "sha256WithRSAEncryption"},
                        Case{ktECC, "ec.pem", "ecdsa-with-SHA256"}}) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<TCertBuilder> leaf = MakeLeaf(c.type);
    WriteFile(Store.Path() / c.name, leaf->CertToPEM());
    const std::time_t issued = *NotBeforeOf(leaf->Cert());
    const TFileDescription description = DescribeStoreFile(Store.File(c.name), issued + 3600);
    const std::vector<std::string>& d = description.Details;
    ASSERT_FALSE(description.Error);
    // The key facts stay where they were; the details come after them.
    EXPECT_EQ(description.Lines.back(), "Has Private Key: False");

    EXPECT_EQ(Field(d, "Subject: "), "C=DE, O=Example Ltd, CN=www.example.test");
    EXPECT_EQ(Field(d, "Issuer: "), "C=DE, O=Example Ltd, CN=www.example.test");
    EXPECT_EQ(Field(d, "Serial: "), OpenSSLSays("-serial", Store.File(c.name)));
    EXPECT_TRUE(Field(d, "Not After: ").ends_with(" (expires in 89 days)"))
        << Field(d, "Not After: ");
    EXPECT_EQ(Field(d, "Alternative Names: "),
              "DNS:www.example.test, DNS:example.test, IP Address:192.0.2.7");
    EXPECT_NE(Field(d, "Basic Constraints: ").find("CA:FALSE"), std::string::npos);
    EXPECT_NE(Field(d, "Key Usage: ").find("Digital Signature"), std::string::npos);
    EXPECT_EQ(Field(d, "Extended Key Usage: "),
              "TLS Web Server Authentication, TLS Web Client Authentication");
    EXPECT_NE(Field(d, "Subject Key Identifier: "), "(absent)");
    EXPECT_EQ(Field(d, "Signature Algorithm: "), c.signature);
    EXPECT_EQ(Field(d, "SHA-256 Fingerprint: "),
              OpenSSLSays("-fingerprint -sha256", Store.File(c.name)));
    EXPECT_EQ(Field(d, "SHA-1 Fingerprint: "),
              OpenSSLSays("-fingerprint -sha1", Store.File(c.name)));
  }
}

// .cer and .der files usually hold DER; they read like the PEM they encode. .der is listed.
TEST_F(CertDetails, DERCertificatesAreDescribedLikePEMOnes) {
  const std::unique_ptr<TCertBuilder> leaf = MakeLeaf(ktECC);
  const X509Ptr cert(X509_dup(leaf->Cert()));
  WriteFile(Store.Path() / "same.crt", CertToPEM(cert.get()));
  const std::time_t now = *NotBeforeOf(cert.get());
  const TFileDescription pem = DescribeStoreFile(Store.File("same.crt"), now);
  for (const char* name : {"binary.cer", "binary.der", "binary.crt"}) {
    SCOPED_TRACE(name);
    WriteFile(Store.Path() / name, CertToDER(cert.get()));
    const TFileDescription der = DescribeStoreFile(Store.File(name), now);
    EXPECT_EQ(std::vector<std::string>(der.Lines.begin() + 5, der.Lines.end()),
              std::vector<std::string>(pem.Lines.begin() + 5, pem.Lines.end()));
    EXPECT_EQ(der.Details, pem.Details);
  }
  EXPECT_EQ(StoreFileKind("binary.DER"), TStoreFileKind::Certificate);
}

TEST_F(CertDetails, ExpiryIsCountedInWholeDays) {
  const std::time_t now = 1'800'000'000;
  struct Case {
    long offset;
    const char* note;
  };
  const Case cases[] = {
      {10 * 86400 + 60, "(expires in 10 days)"},
      {86400, "(expires in 1 day)"},
      {3600, "(expires today)"},
      {-60, "(expired today)"},
      {-86400, "(expired 1 day ago)"},
      {-3 * 86400 - 60, "(expired 3 days ago)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.note);
    EXPECT_EQ(ExpiryNote(now + c.offset, now), c.note);
  }

  // A certificate made already expired, and one that ends within days, say so in the panel.
  const EVP_PKEYPtr key = MakeECKey("P-256");
  for (const auto& [seconds, note] : {std::pair{-5L * 86400 - 10, "(expired 5 days ago)"},
                                      std::pair{10L * 86400 + 3600, "(expires in 10 days)"}}) {
    SCOPED_TRACE(note);
    X509Ptr cert = MakeSelfSignedCert(key.get());
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), seconds);
    ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
    WriteFile(Store.Path() / "dated.crt", CertToPEM(cert.get()));
    const TFileDescription description = DescribeStoreFile(Store.File("dated.crt"));
    EXPECT_TRUE(Field(description.Details, "Not After: ").ends_with(note))
        << Field(description.Details, "Not After: ");
  }
}

TEST_F(CertDetails, KeysReadableByOthersAreFlagged) {
  const EVP_PKEYPtr key = MakeECKey("P-256");
  WriteFile(Store.Path() / "k.key", KeyToPKCS8PEM(key.get()));
  struct Case {
    mode_t mode;
    const char* warning;
  };
  for (const Case& c :
       {Case{0600, "(absent)"}, Case{0640, "(mode 0640)"}, Case{0604, "(mode 0604)"}}) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(::chmod(Store.File("k.key").c_str(), c.mode), 0);
    const TFileDescription description = DescribeStoreFile(Store.File("k.key"));
    EXPECT_EQ(description.Lines.back(), "Key Type: ECC P-256 private key");
    EXPECT_EQ(Field(description.Details, "Warning: readable by other users "), c.warning);
  }
}

TEST_F(CertDetails, ABundleShowsWhatItOpensToWithoutAPassword) {
  const EVP_PKEYPtr caKey = MakeECKey("P-256");
  const X509Ptr ca = MakeSelfSignedCert(caKey.get(), "Bundle CA");
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const X509Ptr leaf = MakeSignedCert(key.get(), "bundle.test", ca.get(), caKey.get());
  WriteFile(Store.Path() / "open.p12", MakePKCS12(key.get(), leaf.get(), {ca.get()}, ""));
  WriteFile(Store.Path() / "locked.pfx", MakePKCS12(key.get(), leaf.get(), {}, "secret"));
  WriteFile(Store.Path() / "broken.pfx", std::string("not a bundle"));
  for (const char* name : {"open.p12", "locked.pfx", "broken.pfx"})
    ASSERT_EQ(::chmod(Store.File(name).c_str(), 0600), 0);

  const std::vector<std::string> open = DescribeStoreFile(Store.File("open.p12")).Details;
  EXPECT_EQ(open, (std::vector<std::string>{"Bundle contents: private key, 2 certificates",
                                            "  CN=bundle.test", "  CN=Bundle CA"}));
  EXPECT_EQ(DescribeStoreFile(Store.File("locked.pfx")).Details,
            std::vector<std::string>{"Bundle contents: (protected by a password)"});
  EXPECT_TRUE(Field(DescribeStoreFile(Store.File("broken.pfx")).Details, "Bundle contents: ")
                  .starts_with("(not a PKCS#12 bundle"));
}

// A CA, a leaf it signed and their keys, a stray key, and a certificate whose key has a
// password: each file names the others that belong with it.
TEST_F(CertDetails, RelatedFilesOfTheStoreAreFound) {
  const EVP_PKEYPtr caKey = MakeECKey("P-256");
  const X509Ptr ca = MakeSelfSignedCert(caKey.get(), "Store CA");
  const EVP_PKEYPtr leafKey = MakeECKey("P-256");
  const X509Ptr leaf = MakeSignedCert(leafKey.get(), "leaf.test", ca.get(), caKey.get());
  const EVP_PKEYPtr otherKey = MakeECKey("P-256");
  const X509Ptr locked = MakeSelfSignedCert(otherKey.get(), "locked.test");
  // Not signed by the CA, only naming it as issuer: the signature decides.
  const X509Ptr forged = MakeSignedCert(leafKey.get(), "forged.test", ca.get(), leafKey.get());
  WriteFile(Store.Path() / "ca.crt", CertToPEM(ca.get()));
  WriteFile(Store.Path() / "ca.key", KeyToTraditionalPEM(caKey.get()));
  WriteFile(Store.Path() / "leaf.cer", CertToDER(leaf.get()));
  WriteFile(Store.Path() / "leaf.key", KeyToPKCS8PEM(leafKey.get()));
  WriteFile(Store.Path() / "copy.key", KeyToPKCS8PEM(leafKey.get()));
  WriteFile(Store.Path() / "stray.key", KeyToPKCS8PEM(MakeECKey("P-384").get()));
  WriteFile(Store.Path() / "locked.crt", CertToPEM(locked.get()));
  WriteFile(Store.Path() / "locked.key", KeyToPKCS8PEM(otherKey.get(), "pw"));
  WriteFile(Store.Path() / "forged.crt", CertToPEM(forged.get()));
  WriteFile(Store.Path() / "notes.txt", std::string("not a store file"));

  struct Case {
    const char* name;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"ca.crt", {"Private key in store: ca.key", "Issued by (in store): itself (self-signed)"}},
      {"leaf.cer", {"Private key in store: copy.key, leaf.key", "Issued by (in store): ca.crt"}},
      {"forged.crt",
       {"Private key in store: copy.key, leaf.key", "Issued by (in store): none found"}},
      {"locked.crt",
       {"Private key in store: none found (1 key has a password and could not be compared)",
        "Issued by (in store): itself (self-signed)"}},
      {"leaf.key", {"Certificates with this key: forged.crt, leaf.cer"}},
      {"stray.key", {"Certificates with this key: none in the store"}},
      {"locked.key", {}},
      {"notes.txt", {}},
  };
  // Read afresh, then with a cache that is filled and then answers for every file.
  TStoreReadCache cache;
  for (TStoreReadCache* reads : {static_cast<TStoreReadCache*>(nullptr), &cache, &cache}) {
    SCOPED_TRACE(reads ? "with the cache" : "read afresh");
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(DescribeStoreRelations(Store.File(c.name), {}, reads), c.lines);
    }
  }
  // A file that changed is read again, not taken from the cache.
  WriteFile(Store.Path() / "stray.key", KeyToPKCS8PEM(leafKey.get()));
  EXPECT_EQ(DescribeStoreRelations(Store.File("leaf.cer"), {}, &cache),
            (std::vector<std::string>{"Private key in store: copy.key, leaf.key, stray.key",
                                      "Issued by (in store): ca.crt"}));
  // Asked to stop, the reading gives up without an answer.
  EXPECT_TRUE(DescribeStoreRelations(Store.File("ca.crt"), [] { return true; }).empty());
}

}  // namespace
}  // namespace velmora::test
