// The store's key of a certificate: found by its public key whatever its name, the first in
// byte order when there are several, and by name only for a key with a password.
#include "core/StoreKeyPair.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::test {
namespace {

struct KeyFile {
  const char* name;
  enum { CertKey, OtherKey, NotAKey } holds;
  const char* password;  // empty: written in the clear
};

struct PairCase {
  const char* name;
  std::vector<KeyFile> keys;
  const char* expected;
};
void PrintTo(const PairCase& Case, std::ostream* Out) { *Out << Case.name; }

class StoreKeyPair : public testing::TestWithParam<PairCase> {
 protected:
  static void SetUpTestSuite() {
    CertKey = MakeECKey("P-256").release();
    OtherKey = MakeECKey("P-256").release();
  }
  static void TearDownTestSuite() {
    EVP_PKEY_free(CertKey);
    EVP_PKEY_free(OtherKey);
  }
  static EVP_PKEY* CertKey;
  static EVP_PKEY* OtherKey;
};
EVP_PKEY* StoreKeyPair::CertKey = nullptr;
EVP_PKEY* StoreKeyPair::OtherKey = nullptr;

TEST_P(StoreKeyPair, FindsTheKeyOfTheCertificate) {
  const TempDir store;
  const X509Ptr cert = MakeSelfSignedCert(CertKey, "Pair Root");
  WriteFile(store.Path() / "root.crt", CertToPEM(cert.get()));
  for (const KeyFile& key : GetParam().keys) {
    std::string text = "not a key at all\n";
    if (key.holds != KeyFile::NotAKey)
      text = KeyToPKCS8PEM(key.holds == KeyFile::CertKey ? CertKey : OtherKey, key.password);
    WriteFile(store.Path() / key.name, text);
  }
  EXPECT_EQ(FindStoreKeyOfCertificate(store.File("root.crt"), store.Path().string()),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, StoreKeyPair,
    testing::Values(
        PairCase{"NoKeys", {}, ""},
        PairCase{"OnlyOtherKeys",
                 {{"root.key", KeyFile::OtherKey, ""}, {"b.key", KeyFile::OtherKey, ""}},
                 ""},
        PairCase{"SameName",
                 {{"a.key", KeyFile::OtherKey, ""}, {"root.key", KeyFile::CertKey, ""}},
                 "root.key"},
        PairCase{"AnyName",
                 {{"a.key", KeyFile::OtherKey, ""}, {"ca-signing.key", KeyFile::CertKey, ""}},
                 "ca-signing.key"},
        PairCase{"FirstInByteOrder",
                 {{"z.key", KeyFile::CertKey, ""},
                  {"B.key", KeyFile::CertKey, ""},
                  {"a.key", KeyFile::CertKey, ""}},
                 "B.key"},
        PairCase{"LockedKeyNamedLikeTheCertificate",
                 {{"a.key", KeyFile::OtherKey, ""}, {"root.key", KeyFile::CertKey, "secret"}},
                 "root.key"},
        PairCase{"LockedKeyOfAnotherName", {{"ca.key", KeyFile::CertKey, "secret"}}, ""},
        PairCase{"ReadableMatchBeatsLockedName",
                 {{"root.key", KeyFile::OtherKey, "secret"}, {"x.key", KeyFile::CertKey, ""}},
                 "x.key"},
        PairCase{"NamedLikeItButNoKey", {{"root.key", KeyFile::NotAKey, ""}}, ""},
        PairCase{"NotKeysByExtension",
                 {{"root.pem", KeyFile::CertKey, ""}, {"root.txt", KeyFile::CertKey, ""}},
                 ""}),
    [](const auto& Info) { return std::string(Info.param.name); });

TEST(StoreKeyPairOf, NothingForAFileThatIsNoCertificateOrACancelledSearch) {
  const TempDir store;
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const X509Ptr cert = MakeSelfSignedCert(key.get(), "Pair Root");
  WriteFile(store.Path() / "root.crt", CertToPEM(cert.get()));
  WriteFile(store.Path() / "root.key", KeyToPKCS8PEM(key.get()));
  WriteFile(store.Path() / "notes.crt", std::string("no certificate\n"));
  ASSERT_EQ(FindStoreKeyOfCertificate(store.File("root.crt"), store.Path().string()), "root.key");
  EXPECT_EQ(FindStoreKeyOfCertificate(store.File("notes.crt"), store.Path().string()), "");
  EXPECT_EQ(FindStoreKeyOfCertificate(store.File("missing.crt"), store.Path().string()), "");
  EXPECT_EQ(
      FindStoreKeyOfCertificate(store.File("root.crt"), store.Path().string(), [] { return true; }),
      "");
  // A certificate outside the store finds its key in the store.
  const TempDir elsewhere;
  WriteFile(elsewhere.Path() / "copy.pem", CertToPEM(cert.get()));
  EXPECT_EQ(FindStoreKeyOfCertificate(elsewhere.File("copy.pem"), store.Path().string()),
            "root.key");
}

}  // namespace
}  // namespace velmora::test
