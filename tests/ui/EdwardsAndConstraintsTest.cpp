// The Edwards-curve key type on the Key tab and the name constraints of a CA on the Extensions
// tab: which controls they enable and what they offer.
#include "tests/support/RunCommand.h"
#include "tests/ui/CommandFixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace velmora::test {
namespace {

class EdwardsAndConstraints : public WindowFixture {};

TEST_F(EdwardsAndConstraints, EachKeyTypeEnablesItsOwnOptionsOnly) {
  ShowTab("tabKey");
  auto* algorithms = Control<QComboBox>("cbEdAlg");
  ASSERT_EQ(algorithms->count(), 2);
  EXPECT_EQ(algorithms->itemText(0), "Ed25519");
  EXPECT_EQ(algorithms->itemText(1), "Ed448");
  EXPECT_EQ(algorithms->currentText(), "Ed25519");
  EXPECT_EQ(Control<QRadioButton>("rbEd")->text(), "Edwards Curve (EdDSA)");
  struct Case {
    const char* radio;
    bool rsa, ecc, ed;
  };
  for (const Case& c : {Case{"rbEd", false, false, true}, Case{"rbRSA", true, false, false},
                        Case{"rbECC", false, true, false}, Case{"rbEd", false, false, true}}) {
    SCOPED_TRACE(c.radio);
    Click(c.radio);
    EXPECT_EQ(Control<QGroupBox>("grpRSA")->isEnabled(), c.rsa);
    EXPECT_EQ(Control<QGroupBox>("grpECC")->isEnabled(), c.ecc);
    EXPECT_EQ(Control<QGroupBox>("grpEd")->isEnabled(), c.ed);
  }
}

TEST_F(EdwardsAndConstraints, TheNameConstraintsAreOpenOnlyForACA) {
  ShowTab("tabExt");
  for (bool isCA : {false, true, false}) {
    SCOPED_TRACE(isCA);
    if (Control<QCheckBox>("chkIsCA")->isChecked() != isCA) Click("chkIsCA");
    for (const char* name : {"edtPermitted", "edtExcluded", "lblPermitted", "lblExcluded"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Control<QWidget>(name)->isEnabled(), isCA);
    }
  }
}

// What the window makes with the Edwards key type and the constraint edits, judged by libcrypto
// and the openssl command line.
class EdwardsAndConstraintsIssued : public CommandFixture {};

TEST_F(EdwardsAndConstraintsIssued, EachEdwardsAlgorithmMakesItsKeyAndASelfSignedCertificate) {
  struct Case {
    int index;
    const char* name;
    int id;
  };
  for (const Case& c : {Case{0, "Ed25519", EVP_PKEY_ED25519}, Case{1, "Ed448", EVP_PKEY_ED448}}) {
    SCOPED_TRACE(c.name);
    Press("rbEd");
    Control<QComboBox>("cbEdAlg")->setCurrentIndex(c.index);
    GenerateKey();
    const std::vector<std::string> log = LogTexts();
    EXPECT_NE(
        std::find(log.begin(), log.end(), std::string("Generating ") + c.name + " key pair ..."),
        log.end());
    // A TLS certificate with an Edwards key is worth a question: browsers refuse it.
    Platform.ConfirmAnswers = {true, true};
    GenerateCertificate();
    ASSERT_EQ(Platform.Messages.back(), CompletionMessage());
    // The second round is also asked whether to replace the first round's files.
    EXPECT_EQ(std::count_if(Platform.Confirmations.begin(), Platform.Confirmations.end(),
                            [](const std::string& Question) {
                              return Question.find(
                                         "current browsers do not accept "
                                         "Edwards-curve") != std::string::npos;
                            }),
              1);
    const X509Ptr cert = ReadCertFile(StoreFile("certificate.crt"));
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(EVP_PKEY_get_base_id(X509_get0_pubkey(cert.get())), c.id);
    const EVP_PKEYPtr key = ReadKeyFile(StoreFile("private.key"), "");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1);
    EXPECT_EQ(RunCommand("openssl verify -x509_strict -CAfile " + StoreFile("certificate.crt") +
                         " " + StoreFile("certificate.crt"))
                  .status,
              0);
    Platform.Confirmations.clear();
  }
}

TEST_F(EdwardsAndConstraintsIssued, AnEdwardsKeyIsOfferedTheUsagesOfASigningKeyOnly) {
  Press("rbEd");
  Control<QComboBox>("cbProfile")->setCurrentText("E-mail (S/MIME)");
  const auto* usages = Control<QListWidget>("clbKeyUsage");
  for (int i = 0; i < usages->count(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(usages->item(i)->checkState() == Qt::Checked, i == kuDigitalSignature);
  }
  Press("rbECC");  // an EC key may also agree on a key for mail
  EXPECT_EQ(usages->item(kuKeyAgreement)->checkState(), Qt::Checked);
}

TEST_F(EdwardsAndConstraintsIssued, ACAsListsBecomeItsCriticalNameConstraints) {
  GenerateKey();
  Control<QComboBox>("cbProfile")->setCurrentText("Root CA");
  Type("edtCN", "Constrained Root");
  Type("edtSANDNS", "");
  Type("edtPermitted", "example.org, 10.0.0.0/8, @example.org");
  Type("edtExcluded", ".internal.example.org");
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages.back(), CompletionMessage());

  const X509Ptr cert = ReadCertFile(StoreFile("certificate.crt"));
  ASSERT_NE(cert, nullptr);
  const int at = X509_get_ext_by_NID(cert.get(), NID_name_constraints, -1);
  ASSERT_GE(at, 0);
  EXPECT_EQ(X509_EXTENSION_get_critical(X509_get_ext(cert.get(), at)), 1);
  const TRun text =
      RunCommand("openssl x509 -noout -ext nameConstraints -in " + StoreFile("certificate.crt"));
  ASSERT_EQ(text.status, 0);
  // A mail domain is written as RFC 5280 has it: the host alone stands for every mailbox there.
  for (const char* line : {"DNS:example.org", "IP:10.0.0.0/255.0.0.0", "email:example.org",
                           "DNS:.internal.example.org"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(text.output.find(line), std::string::npos) << text.output;
  }
}

TEST_F(EdwardsAndConstraintsIssued, AnItemThatIsNoNameConstraintIsNamedAndNothingIsWritten) {
  GenerateKey();
  SetChecked("chkIsCA", true);
  Type("edtPermitted", "example.org, not a name");
  GenerateCertificate();
  EXPECT_EQ(Platform.Messages,
            std::vector<std::string>{
                "Certificate generation failed:\nInvalid name constraint \"not a name\"."});
  EXPECT_TRUE(StoreEntries().empty());
}

TEST_F(EdwardsAndConstraintsIssued, TheListsOfACertificateThatIsNoCAAreNotRead) {
  GenerateKey();
  SetChecked("chkIsCA", true);
  Type("edtPermitted", "not a name");
  SetChecked("chkIsCA", false);
  GenerateCertificate();
  ASSERT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  const X509Ptr cert = ReadCertFile(StoreFile("certificate.crt"));
  ASSERT_NE(cert, nullptr);
  EXPECT_LT(X509_get_ext_by_NID(cert.get(), NID_name_constraints, -1), 0);
}

}  // namespace
}  // namespace velmora::test
