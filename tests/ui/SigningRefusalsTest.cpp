// "Generate Certificate" refusing, in the window's own box, what would give a certificate no
// verifier accepts or would hand out the CA's own key: a leaf for the key pair the root was
// made with, a validity of no days, a CA key file that holds a certificate, a signer that is
// no CA. Nothing is written then.
#include "tests/support/SignerFixtures.h"
#include "tests/ui/CommandFixture.h"

namespace velmora::test {
namespace {

std::string Failed(const std::string& Message) {
  return "Certificate generation failed:\n" + Message;
}

class SigningRefusals : public CommandFixture {
 protected:
  // The files of the store whose names end with Suffix.
  std::string StoreFileEndingWith(const std::string& Suffix) const {
    for (const std::string& name : StoreEntries())
      if (name.size() > Suffix.size() && name.ends_with(Suffix)) return name;
    ADD_FAILURE() << "no " << Suffix << " file in the store";
    return {};
  }

  void LeafSettings() {
    Type("edtCN", "www.leaf.example");
    Type("edtSANDNS", "www.leaf.example");
    SetChecked("chkIsCA", false);
    CheckOnly("clbKeyUsage", {0});
    CheckOnly("clbEKU", {0});
  }

  // A CA certificate and key as separate files outside the store, the certificate with
  // exactly the extensions given.
  void OutsideCA(const TExtensionLines& Extensions) {
    const EVP_PKEYPtr key = MakeECKey("P-256");
    const X509Ptr cert = MakeSelfSignedWith(key.get(), Extensions);
    WriteFile(CACertFile, CertToPEM(cert.get()));
    WriteFile(CAKeyFile, KeyToPKCS8PEM(key.get()));
  }

  void SignWith(const std::string& CertFile, const std::string& KeyFile) {
    Press("rbCASign");
    Type("edtCACertFile", CertFile);
    Type("edtCAKeyFile", KeyFile);
  }

  const std::string CACertFile = Temp.File("outside ca.crt");
  const std::string CAKeyFile = Temp.File("outside ca.key");
};

TEST_F(SigningRefusals, ALeafRightAfterItsRootWithoutANewKeyPairIsRefused) {
  GenerateKey();
  Type("edtCN", "Velmora Refusal Root");
  Type("edtSANDNS", "");
  SetChecked("chkIsCA", true);
  CheckOnly("clbKeyUsage", {5, 6});  // Key Cert Sign, CRL Sign
  CheckOnly("clbEKU", {});
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  const std::vector<std::string> rootFiles = StoreEntries();
  ASSERT_EQ(rootFiles.size(), 2u);
  const std::string rootCert = StoreFileEndingWith(".crt"), rootKey = StoreFileEndingWith(".key");

  // The root's key pair is still the window's: the user goes straight on to the leaf.
  Platform.Messages.clear();
  LeafSettings();
  UseStoreFilesAsCA(rootCert, rootKey);
  GenerateCertificate();
  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{Failed("The new certificate's key is the CA's own key. "
                                            "Generate a new key pair for it first.")});
  EXPECT_EQ(StoreEntries(), rootFiles);
  EXPECT_TRUE(Platform.ErrorBoxes.empty());

  // With a key pair of its own the same leaf is issued, under names of its own.
  Platform.Messages.clear();
  GenerateKey();
  Type("edtOutCert", "leaf.crt");
  Type("edtOutKey", "leaf.key");
  GenerateCertificate();
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  EXPECT_EQ(StoreEntries().size(), 4u);
}

TEST_F(SigningRefusals, ATypedValidityOfNoDaysIsRefusedAndANonNumberStillMeansTheDefault) {
  GenerateKey();
  const struct {
    const char* typed;
    std::string message;
  } refused[] = {
      {"-5", "The validity must be at least one day."},
      {"0", "The validity must be at least one day."},
      {"3000000", "The validity must end before the year 10000: at most "},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.typed);
    Platform.Messages.clear();
    Type("edtDays", c.typed);
    GenerateCertificate();
    ASSERT_EQ(Platform.Messages.size(), 1u);
    EXPECT_EQ(Platform.Messages[0].rfind(Failed(c.message), 0), 0u) << Platform.Messages[0];
    EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
  }
  Platform.Messages.clear();
  Type("edtDays", "minus five");
  GenerateCertificate();
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  EXPECT_EQ(Window->Builder().ValidDays, 365);
}

TEST_F(SigningRefusals, ACAKeyFileHoldingACertificateIsNamedInTheBox) {
  OutsideCA(SoundCAExtensions());
  GenerateKey();
  LeafSettings();
  SignWith(CACertFile, CACertFile);  // the certificate picked for both
  GenerateCertificate();
  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{Failed("\"" + CACertFile +
                                            "\" holds a certificate, not a private key: choose "
                                            "the CA's key file")});
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
}

TEST_F(SigningRefusals, ASignerThatIsNoCAIsRefused) {
  OutsideCA({{NID_key_usage, "critical,digitalSignature,keyCertSign"}});  // no CA:TRUE
  GenerateKey();
  LeafSettings();
  SignWith(CACertFile, CAKeyFile);
  Platform.ConfirmAnswers = {true};  // would issue despite any finding
  GenerateCertificate();
  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{Failed("\"" + CACertFile +
                                            "\" is not a CA certificate: it cannot sign other "
                                            "certificates.")});
  EXPECT_EQ(Platform.ConfirmAnswers.size(), 1u);  // nobody was asked
  EXPECT_EQ(StoreEntries(), std::vector<std::string>{});
}

}  // namespace
}  // namespace velmora::test
