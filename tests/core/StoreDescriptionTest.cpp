// The description of a store file as both front ends show it: a private key found and warned
// about in whatever file holds it, what could not be read marked as a problem, the advice in
// the words of the front end, and the Expires cell.
#include "core/Store.h"
#include "tests/support/CryptoFixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

namespace velmora::test {
namespace {

const std::string kWarning = "Warning: readable by other users (mode ";

bool Has(const std::vector<std::string>& Lines, const std::string& Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

std::string WarningOf(const TFileDescription& Description) {
  for (const std::string& line : Description.Details)
    if (line.starts_with(kWarning)) return line;
  return "(none)";
}

class StoreDescription : public testing::Test {
 protected:
  void SetUp() override {
    const EVP_PKEYPtr key = MakeECKey("P-256");
    const X509Ptr cert = MakeSelfSignedCert(key.get(), "described.example");
    CertPEM = CertToPEM(cert.get());
    KeyPEM = KeyToPKCS8PEM(key.get());
    EncryptedKeyPEM = KeyToPKCS8PEM(key.get(), "phrase");
  }

  std::string Write(const std::string& Name, const std::string& Contents, mode_t Mode) {
    WriteFile(Store.Path() / Name, Contents);
    EXPECT_EQ(::chmod(Store.File(Name).c_str(), Mode), 0);
    return Store.File(Name);
  }

  TempDir Store;
  std::string CertPEM, KeyPEM, EncryptedKeyPEM;
};

TEST_F(StoreDescription, APrivateKeyIsFoundInWhateverFileHoldsIt) {
  struct Case {
    const char* name;
    std::string contents;
    mode_t mode;
    const char* hasKeyLine;  // the certificate's line, or none
    std::string warning;
  };
  const Case cases[] = {
      {"both.pem", CertPEM + KeyPEM, 0644, "Has Private Key: True", kWarning + "0644)"},
      {"key-first.crt", KeyPEM + CertPEM, 0640, "Has Private Key: True", kWarning + "0640)"},
      {"both-closed.pem", CertPEM + KeyPEM, 0600, "Has Private Key: True", "(none)"},
      {"cert.pem", CertPEM, 0644, "Has Private Key: False", "(none)"},
      {"key-only.pem", KeyPEM, 0644, nullptr, kWarning + "0644)"},
      {"notes.txt", "my key:\n" + EncryptedKeyPEM, 0604, nullptr, kWarning + "0604)"},
      {"readme.txt", "no key at all\n", 0644, nullptr, "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TFileDescription description = DescribeStoreFile(Write(c.name, c.contents, c.mode));
    if (c.hasKeyLine) {
      EXPECT_EQ(description.Lines.back(), c.hasKeyLine);
    }
    EXPECT_EQ(WarningOf(description), c.warning);
  }
}

TEST_F(StoreDescription, FilesThatCannotBeUnderstoodCarryTheProblem) {
  struct Case {
    const char* name;
    std::string contents;
    const char* problemStart;  // or none
  };
  const Case cases[] = {
      {"good.crt", CertPEM, nullptr},
      {"good.key", KeyPEM, nullptr},
      {"locked.key", EncryptedKeyPEM, nullptr},
      {"key-only.pem", KeyPEM, "Could not parse certificate: "},
      {"garbage.crt", "garbage\n", "Could not parse certificate: "},
      {"garbage.key", "garbage\n", "The file holds no private key"},
      {"garbage.pfx", "garbage\n", "Cannot read the bundle: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TFileDescription description = DescribeStoreFile(Write(c.name, c.contents, 0600));
    EXPECT_FALSE(description.Error);
    if (!c.problemStart) {
      EXPECT_FALSE(description.Problem) << *description.Problem;
      continue;
    }
    ASSERT_TRUE(description.Problem);
    EXPECT_TRUE(description.Problem->starts_with(c.problemStart)) << *description.Problem;
  }
}

// The window's panel keeps its words; the command line has no buttons to point to.
TEST_F(StoreDescription, TheBundleLineIsInTheWordsOfTheFrontEnd) {
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const X509Ptr cert = MakeSelfSignedCert(key.get(), "bundled.example");
  const std::string path = Store.File("b.p12");
  WriteFile(path, MakePKCS12(key.get(), cert.get(), {}, "secret"));
  const TFileDescription window = DescribeStoreFile(path, std::time(nullptr), TWording::Window);
  const TFileDescription line = DescribeStoreFile(path, std::time(nullptr), TWording::CommandLine);
  EXPECT_EQ(DescribeStoreFile(path).Lines, window.Lines);
  EXPECT_TRUE(Has(window.Lines, "PKCS#12 bundle \u2014 use Load buttons to import with password."));
  EXPECT_TRUE(
      Has(line.Lines, "PKCS#12 bundle \u2014 the program that imports it asks for its password."));
  for (const std::string& text : line.Lines) EXPECT_EQ(text.find("button"), std::string::npos);
  EXPECT_EQ(window.Details, line.Details);
}

TEST(StoreExpiresText, CountsWholeDaysDownAndSaysExpired) {
  const std::time_t now = 1'700'000'000;
  constexpr std::time_t day = 86400;
  EXPECT_EQ(ExpiresText(now + 30 * day, now), "30 days");
  EXPECT_EQ(ExpiresText(now + 30 * day - 1, now), "29 days");
  EXPECT_EQ(ExpiresText(now, now), "0 days");
  EXPECT_EQ(ExpiresText(now - 1, now), "expired");
}

}  // namespace
}  // namespace velmora::test
