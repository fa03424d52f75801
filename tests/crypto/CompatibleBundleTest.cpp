// PKCS#12 bundles for older systems: key and certificates under PBE-SHA1-3DES, a SHA-1 MAC,
// 2048 iterations each, as the openssl command line reports them and as NSS's pk12util
// imports them; the modern bundle stays as it was.
#include "BuilderTestSupport.h"
#include "crypto/Certificates.h"
#include "tests/support/RunCommand.h"

#include <memory>

namespace velmora::test {
namespace {

constexpr char kPassword[] = "older systems";

class CompatibleBundle : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* program : {"openssl", "pk12util", "certutil"})
      ASSERT_EQ(RunCommand(std::string("command -v ") + program).status, 0)
          << program << " is not installed; scripts/install-deps installs it";
  }

  // A CA-signed leaf in a bundle of the given kind, with its CA as the chain.
  std::string Save(TPKCS12Format Format, const std::string& Name) {
    static const std::unique_ptr<TCertBuilder> leaf = [] {
      auto builder = std::make_unique<TCertBuilder>();
      builder->Subject.CN = "compatible.example";
      builder->GenerateKey();
      builder->BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");
      return builder;
    }();
    const std::string path = Dir / Name;
    leaf->SaveToPKCS12(path, kPassword, "Compatible Leaf", FirstCA().certPEM, Format);
    return path;
  }

  static TRun Info(const std::string& Path) {
    return RunCommand("openssl pkcs12 -info -nokeys -passin " +
                      Quoted(std::string("pass:") + kPassword) + " -in " + Quoted(Path));
  }

  TTempDir Dir;
};

size_t Count(const std::string& Text, const std::string& What) {
  size_t count = 0;
  for (size_t at = Text.find(What); at != std::string::npos; at = Text.find(What, at + 1)) ++count;
  return count;
}

TEST_F(CompatibleBundle, Is3DESWithASHA1MacAndTheModernOneIsNot) {
  const TRun compatible = Info(Save(TPKCS12Format::Compatible, "old.p12"));
  ASSERT_EQ(compatible.status, 0) << compatible.output;
  EXPECT_NE(compatible.output.find("MAC: sha1, Iteration 2048"), std::string::npos)
      << compatible.output;
  // The certificates' bag and the key's bag.
  EXPECT_NE(compatible.output.find("PKCS7 Encrypted data: pbeWithSHA1And3-KeyTripleDES-CBC, "
                                   "Iteration 2048"),
            std::string::npos)
      << compatible.output;
  EXPECT_NE(compatible.output.find("Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC, "
                                   "Iteration 2048"),
            std::string::npos)
      << compatible.output;
  EXPECT_EQ(Count(compatible.output, "AES-256-CBC"), 0u) << compatible.output;
  EXPECT_EQ(Count(compatible.output, "-----BEGIN CERTIFICATE-----"), 2u) << compatible.output;

  const TRun modern = Info(Save(TPKCS12Format::Modern, "new.p12"));
  ASSERT_EQ(modern.status, 0) << modern.output;
  EXPECT_NE(modern.output.find("MAC: sha256, Iteration 2048"), std::string::npos) << modern.output;
  EXPECT_NE(modern.output.find("AES-256-CBC"), std::string::npos) << modern.output;
  EXPECT_EQ(Count(modern.output, "pbeWithSHA1And3-KeyTripleDES-CBC"), 0u) << modern.output;
}

TEST_F(CompatibleBundle, NSSImportsItWithKeyAndCertificates) {
  const std::string bundle = Save(TPKCS12Format::Compatible, "old.p12");
  const std::string db = "sql:" + Dir.File("nssdb");
  std::filesystem::create_directory(Dir.File("nssdb"));
  const TRun created = RunCommand("certutil -N -d " + Quoted(db) + " --empty-password");
  ASSERT_EQ(created.status, 0) << created.output;

  const TRun imported = RunCommand("pk12util -i " + Quoted(bundle) + " -d " + Quoted(db) + " -W " +
                                   Quoted(kPassword));
  ASSERT_EQ(imported.status, 0) << imported.output;
  const TRun certs = RunCommand("certutil -L -d " + Quoted(db));
  EXPECT_NE(certs.output.find("Compatible Leaf"), std::string::npos) << certs.output;
  EXPECT_NE(certs.output.find("Velmora Test CA One"), std::string::npos) << certs.output;
  const TRun keys = RunCommand("certutil -K -d " + Quoted(db));
  EXPECT_EQ(keys.status, 0) << keys.output;
  EXPECT_NE(keys.output.find("Compatible Leaf"), std::string::npos) << keys.output;

  // Not every file passes: a wrong password is refused.
  const TRun wrong =
      RunCommand("pk12util -i " + Quoted(bundle) + " -d " + Quoted(db) + " -W wrong");
  EXPECT_NE(wrong.status, 0) << wrong.output;
}

TEST_F(CompatibleBundle, OurLoaderReadsBothKinds) {
  for (const TPKCS12Format format : {TPKCS12Format::Compatible, TPKCS12Format::Modern}) {
    const auto loaded = TCertLoader::LoadFromP12File(Save(format, "bundle.p12"), kPassword);
    ASSERT_TRUE(loaded && loaded->PKey() && loaded->X509Cert());
    EXPECT_EQ(X509_check_private_key(loaded->X509Cert(), loaded->PKey()), 1);
  }
}

}  // namespace
}  // namespace velmora::test
