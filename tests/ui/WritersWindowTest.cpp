// The window shares the store's writing rules with the command line: outputs that name one
// file are refused, a certificate name that lands on a key asks first, and a save that a
// killed program left half done is completed when the store is listed, with a log line.
#include "crypto/AtomicFile.h"
#include "tests/ui/CommandFixture.h"

namespace velmora::test {
namespace {

class WritersWindow : public CommandFixture {};

TEST_F(WritersWindow, TwoOutputsThatAreOneFileAreRefused) {
  GenerateKey();
  Type("edtOutCert", "same.pem");
  Type("edtOutKey", "same.pem");
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages.size(), 1u);
  EXPECT_EQ(Platform.Messages[0],
            "Certificate generation failed:\nTwo outputs are the same file: " +
                StoreFile("same.pem") + ".");
  EXPECT_FALSE(std::filesystem::exists(StoreFile("same.pem")));
}

TEST_F(WritersWindow, ACertificateNameOnAnExistingKeyAsksBeforeReplacingIt) {
  GenerateKey();
  Type("edtOutCert", "first.crt");
  Type("edtOutKey", "first-key.pem");
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages.back(), CompletionMessage());
  const std::string key = FileText(StoreFile("first-key.pem"));

  Press("btnGenKey");
  Type("edtOutCert", "first-key.pem");  // a typo: the key's name in the certificate's box
  Type("edtOutKey", "second.key");
  GenerateCertificate();  // the scripted answer is No
  ASSERT_EQ(Platform.Confirmations.size(), 1u);
  EXPECT_NE(Platform.Confirmations[0].find("first-key.pem"), std::string::npos)
      << Platform.Confirmations[0];
  EXPECT_EQ(FileText(StoreFile("first-key.pem")), key);
  EXPECT_FALSE(std::filesystem::exists(StoreFile("second.key")));
}

TEST_F(WritersWindow, ASaveLeftHalfDoneIsCompletedWhenTheStoreIsListed) {
  std::filesystem::create_directories(StoreDir);
  // What a writer killed after its first rename leaves: the certificate in place, the key
  // still in its temporary file, and the intent naming both.
  const std::string temp = StoreFile(".velmora-1-00112233aabbccdd.tmp");
  {
    std::ofstream(StoreFile("a.crt")) << "new certificate";
    std::ofstream(temp) << "new key";
  }
  struct stat cert {
  }, key{};
  ASSERT_EQ(::stat(StoreFile("a.crt").c_str(), &cert), 0);
  ASSERT_EQ(::stat(temp.c_str(), &key), 0);
  const auto hex = [](const std::string& Text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : Text) (out += digits[c >> 4]) += digits[c & 0xF];
    return out;
  };
  std::ofstream(StoreFile(".velmora-1-00112233aabbccdd.intent"))
      << "velmora-set 1\n"
      << hex(StoreFile(".velmora-1-0000000000000000.tmp")) << " " << hex(StoreFile("a.crt"))
      << " - " << cert.st_dev << " " << cert.st_ino << "\n"
      << hex(temp) << " " << hex(StoreFile("a.key")) << " - " << key.st_dev << " " << key.st_ino
      << "\nend\n";

  Press("btnStoreRefresh");
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"a.crt", "a.key"}));
  EXPECT_EQ(FileText(StoreFile("a.key")), "new key");
  EXPECT_EQ(StoreRows(), (std::vector<std::string>{"a.crt", "a.key"}));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return LastLogLineText() == "Completed an interrupted save: a.crt, a.key."; }, 5000))
      << LastLogLineText();
}

}  // namespace
}  // namespace velmora::test
