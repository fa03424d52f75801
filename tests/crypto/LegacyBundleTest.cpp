// Bundles made by older tools: their certificates under RC2-40, which only libcrypto's legacy
// provider decrypts. The loader reads them; where that provider is missing it says so.
#include "BuilderTestSupport.h"
#include "crypto/Certificates.h"
#include "tests/support/RunCommand.h"

#include <cstdio>
#include <cstdlib>

namespace velmora::test {
namespace {

constexpr char kPassword[] = "legacy pass";

class LegacyBundle : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RunCommand("openssl version").status, 0) << "the openssl command line is needed";
    builder.Subject.CN = "legacy.example";
    builder.GenerateKey();
    builder.BuildSignedBy(FirstCA().certPEM, FirstCA().keyPEM, "");
    builder.SaveCertToPEM(Dir / "leaf.crt");
    builder.SaveKeyToPEM(Dir / "leaf.key", "");
    WriteFile(Dir / "ca.crt", FirstCA().certPEM);
    // What `openssl pkcs12 -export -legacy` makes is what OpenSSL 1.1 and Windows made by
    // default: certificates under RC2-40, the key under 3DES.
    Bundle = Dir / "legacy.p12";
    const TRun made = RunCommand(
        "openssl pkcs12 -export -legacy -in " + Quoted(Dir / "leaf.crt") + " -inkey " +
        Quoted(Dir / "leaf.key") + " -certfile " + Quoted(Dir / "ca.crt") + " -passout " +
        Quoted(std::string("pass:") + kPassword) + " -out " + Quoted(Bundle));
    ASSERT_EQ(made.status, 0) << made.output;
    const TRun info =
        RunCommand("openssl pkcs12 -info -noout -legacy -passin " +
                   Quoted(std::string("pass:") + kPassword) + " -in " + Quoted(Bundle));
    ASSERT_NE(info.output.find("pbeWithSHA1And40BitRC2-CBC"), std::string::npos) << info.output;
  }

  TTempDir Dir;
  TCertBuilder builder;
  std::string Bundle;
};

TEST_F(LegacyBundle, LoadsWithItsKeyAndCertificate) {
  const auto loaded = TCertLoader::LoadFromP12File(Bundle, kPassword);
  ASSERT_TRUE(loaded);
  ASSERT_NE(loaded->X509Cert(), nullptr);
  ASSERT_NE(loaded->PKey(), nullptr);
  EXPECT_TRUE(loaded->HasPrivateKey());
  EXPECT_EQ(X509_cmp(loaded->X509Cert(), builder.Cert()), 0);
  EXPECT_EQ(EVP_PKEY_eq(loaded->PKey(), builder.Key()), 1);
  EXPECT_EQ(loaded->KeyType(), ctECC);
  EXPECT_EQ(loaded->GetCurveName(), "P-256");
  // The key works in the default context like any other.
  const std::vector<unsigned char> data{'l', 'e', 'g', 'a', 'c', 'y'};
  EXPECT_TRUE(loaded->VerifyData(data, loaded->SignData(data)));
  EXPECT_EQ(ERR_peek_error(), 0u);

  // A wrong password is still a wrong password, whatever provider is tried.
  const std::string wrong = MessageOf([&] { TCertLoader::LoadFromP12File(Bundle, "wrong"); });
  EXPECT_TRUE(StartsWith(wrong, "PKCS12_parse. OpenSSL: ")) << wrong;
  EXPECT_EQ(ERR_peek_error(), 0u);
}

// Without the legacy provider (its module cannot be found) the message says what is missing.
// The provider is looked for once per process, so this runs in a process of its own.
TEST_F(LegacyBundle, WithoutTheLegacyProviderTheErrorSaysWhy) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string bundle = Bundle;
  EXPECT_EXIT(
      {
        ::setenv("OPENSSL_MODULES", "/nonexistent/velmora-no-modules", 1);
        const std::string message =
            MessageOf([&] { TCertLoader::LoadFromP12File(bundle, kPassword); });
        std::fprintf(stderr, "%s\n", message.c_str());
        std::exit(0);
      },
      testing::ExitedWithCode(0),
      "PKCS12_parse: the bundle is protected by an old algorithm \\(such as RC2\\) that needs "
      "OpenSSL's legacy provider, which is not installed. OpenSSL: .*unsupported");
}

}  // namespace
}  // namespace velmora::test
