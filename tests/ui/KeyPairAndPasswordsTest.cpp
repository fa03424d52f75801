// "Generate Certificate" before it writes anything: a key pair that already made a certificate
// for another subject is used again only when the user says so, and every new password must
// have been typed the same twice.
#include "tests/ui/CommandFixture.h"

#include <QGridLayout>
#include <QLabel>

#include <openssl/x509.h>

#include <string>
#include <vector>

namespace velmora::test {
namespace {

class KeyPairReuse : public CommandFixture {
 protected:
  // A certificate for CN (also its DNS name, so the checks before issuing find nothing) into
  // the store as <File>.crt and <File>.key.
  void Issue(const std::string& CN, const std::string& File) {
    Type("edtCN", CN);
    Type("edtSANDNS", CN);
    Type("edtOutCert", File + ".crt");
    Type("edtOutKey", File + ".key");
    GenerateCertificate();
  }
  EVP_PKEY* PublicKeyOf(const X509Ptr& Cert) const { return X509_get0_pubkey(Cert.get()); }
};

struct ReuseCase {
  const char* name;
  bool newKeyPair;  // "Generate Key Pair" pressed between the two certificates
  const char* secondCN;
  std::vector<bool> answers;
  bool asked;
  bool secondWritten;
};
void PrintTo(const ReuseCase& Case, std::ostream* Out) { *Out << Case.name; }

class KeyPairReuseCases : public KeyPairReuse, public testing::WithParamInterface<ReuseCase> {};

TEST_P(KeyPairReuseCases, AsksBeforeASecondSubjectAndYesIssuesNothing) {
  const ReuseCase& c = GetParam();
  GenerateKey();
  Issue("first.test", "first");
  ASSERT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  ASSERT_TRUE(Platform.Confirmations.empty());
  if (c.newKeyPair) GenerateKey();

  Platform.ConfirmAnswers.assign(c.answers.begin(), c.answers.end());
  Issue(c.secondCN, "second");
  if (c.asked) {
    ASSERT_EQ(Platform.Confirmations.size(), 1u);
    const std::string& question = Platform.Confirmations[0];
    EXPECT_EQ(question.rfind("This key pair was already used for first.crt (CN=first.test).", 0),
              0u)
        << question;
    EXPECT_NE(question.find("Generate a new key pair for a different certificate?"),
              std::string::npos)
        << question;
  } else {
    EXPECT_TRUE(Platform.Confirmations.empty());
  }

  const X509Ptr first = ReadCertFile(StoreFile("first.crt"));
  ASSERT_NE(first, nullptr);
  if (!c.secondWritten) {
    EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"first.crt", "first.key"}));
    EXPECT_EQ(Platform.Messages.size(), 1u) << "no box beyond the question";
    EXPECT_EQ(LastLogLineText(),
              "Certificate not generated: the key pair was already used for first.crt "
              "(CN=first.test). Generate a new key pair first (Tab 1 -> Generate Key).");
    // The key pair is still there for whatever the user does next.
    EXPECT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());
    return;
  }
  ASSERT_EQ(Platform.Messages.size(), 2u);
  EXPECT_EQ(Platform.Messages[1], CompletionMessage());
  const X509Ptr second = ReadCertFile(StoreFile("second.crt"));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(EVP_PKEY_eq(PublicKeyOf(first), PublicKeyOf(second)) == 1, !c.newKeyPair);
  if (c.asked) {
    EXPECT_TRUE(LogLines()
                    .filter("Warning: the key pair already used for first.crt "
                            "(CN=first.test) is used again.")
                    .size() == 1)
        << LogLines().join('\n').toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, KeyPairReuseCases,
    testing::Values(
        ReuseCase{"AnotherSubjectYesMeansANewKeyPair", false, "second.test", {true}, true, false},
        ReuseCase{"AnotherSubjectNoUsesItAgain", false, "second.test", {false}, true, true},
        ReuseCase{"SameSubjectRenewsWithoutAsking", false, "first.test", {}, false, true},
        ReuseCase{"NewKeyPairAsksNothing", true, "second.test", {}, false, true}),
    [](const auto& Info) { return std::string(Info.param.name); });

// Any earlier use with another subject counts, not only the last one; a failed issuance is no
// use.
TEST_F(KeyPairReuse, EveryEarlierSubjectCountsAndAFailureIsNoUse) {
  GenerateKey();
  Issue("first.test", "first");
  Platform.ConfirmAnswers = {false};
  Issue("second.test", "second");
  ASSERT_EQ(Platform.Confirmations.size(), 1u);
  // Back to the first subject: the second one used the pair as well.
  Platform.ConfirmAnswers = {true};
  Issue("first.test", "third");
  ASSERT_EQ(Platform.Confirmations.size(), 2u);
  EXPECT_EQ(Platform.Confirmations[1].rfind(
                "This key pair was already used for second.crt (CN=second.test).", 0),
            0u)
      << Platform.Confirmations[1];

  // A new pair whose first issuance fails has made no certificate.
  GenerateKey();
  Type("edtC", "U");  // refused by the build
  Platform.ConfirmAnswers = {true};
  Issue("fails.test", "fails");
  ASSERT_NE(Platform.Messages.back(), CompletionMessage());
  Type("edtC", "");
  Platform.ConfirmAnswers.clear();
  const std::size_t asked = Platform.Confirmations.size();
  Issue("other.test", "other");
  EXPECT_EQ(Platform.Confirmations.size(), asked);
  EXPECT_EQ(Platform.Messages.back(), CompletionMessage());
}

// ---- Passwords typed twice ----

struct PasswordCase {
  const char* name;
  const char* key;
  const char* keyConfirm;
  bool bundle;
  const char* bundlePwd;
  const char* bundleConfirm;
  const char* refusal;  // empty: issued
};
void PrintTo(const PasswordCase& Case, std::ostream* Out) { *Out << Case.name; }

class PasswordConfirmation : public CommandFixture,
                             public testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordConfirmation, RefusesWhenAPasswordAndItsConfirmationDiffer) {
  const PasswordCase& c = GetParam();
  GenerateKey();
  Type("edtOutKeyPwd", c.key);
  Type("edtOutKeyPwdConfirm", c.keyConfirm);
  SetChecked("chkSavePFX", c.bundle);
  Type("edtOutPFXPwd", c.bundlePwd);
  Type("edtOutPFXPwdConfirm", c.bundleConfirm);
  GenerateCertificate();
  if (*c.refusal) {
    EXPECT_EQ(Platform.Messages, std::vector<std::string>{c.refusal});
    EXPECT_TRUE(StoreEntries().empty());
    EXPECT_EQ(LastLogLineText(), std::string("Certificate not generated: ") + c.refusal);
    EXPECT_TRUE(Platform.Confirmations.empty());
    return;
  }
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  EXPECT_NE(ReadKeyFile(StoreFile("private.key"), c.key), nullptr);
  if (c.bundle) {
    EXPECT_TRUE(ReadBundleFile(StoreFile("certificate.pfx"), c.bundlePwd).Parsed);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Passwords, PasswordConfirmation,
    testing::Values(PasswordCase{"KeyDiffers", "s3cret", "s3cre7", false, "", "",
                                 "The private key passwords do not match."},
                    PasswordCase{"KeyNotConfirmed", "s3cret", "", false, "", "",
                                 "The private key passwords do not match."},
                    PasswordCase{"OnlyConfirmationTyped", "", "s3cret", false, "", "",
                                 "The private key passwords do not match."},
                    PasswordCase{"CaseCounts", "Secret", "secret", false, "", "",
                                 "The private key passwords do not match."},
                    PasswordCase{"BundleDiffers", "k", "k", true, "bundle", "bundel",
                                 "The PKCS#12 passwords do not match."},
                    PasswordCase{"BothDifferTheKeyIsNamed", "a", "b", true, "c", "d",
                                 "The private key passwords do not match."},
                    PasswordCase{"BothConfirmed", "k\u00e9y", "k\u00e9y", true, "bundle", "bundle",
                                 ""},
                    PasswordCase{"NoPasswords", "", "", true, "", "", ""},
                    // No bundle is saved: its password is not used, so it is not asked to match.
                    PasswordCase{"BundleNotSaved", "k", "k", false, "bundle", "other", ""}),
    [](const auto& Info) { return std::string(Info.param.name); });

// Each confirmation is a password edit with its label, right below the password it confirms.
using OutputPasswords = CommandFixture;

TEST_F(OutputPasswords, EachNewPasswordHasAConfirmationBelowIt) {
  for (const auto& [password, confirmation] : {std::pair{"edtOutKeyPwd", "edtOutKeyPwdConfirm"},
                                               std::pair{"edtOutPFXPwd", "edtOutPFXPwdConfirm"}}) {
    SCOPED_TRACE(confirmation);
    auto* edit = Control<QLineEdit>(confirmation);
    const auto* above = Control<QLineEdit>(password);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(edit->maxLength(), above->maxLength());
    EXPECT_EQ(edit->parentWidget(), above->parentWidget());
    auto* grid = qobject_cast<QGridLayout*>(above->parentWidget()->layout());
    ASSERT_NE(grid, nullptr);
    int row = 0, column = 0, rows = 0, columns = 0, aboveRow = 0, aboveColumn = 0;
    grid->getItemPosition(grid->indexOf(edit), &row, &column, &rows, &columns);
    grid->getItemPosition(grid->indexOf(above), &aboveRow, &aboveColumn, &rows, &columns);
    EXPECT_EQ(row, aboveRow + 1);
    EXPECT_EQ(column, aboveColumn);
    const QLayoutItem* labelItem = grid->itemAtPosition(row, 0);
    ASSERT_NE(labelItem, nullptr);
    const auto* label = qobject_cast<QLabel*>(labelItem->widget());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->buddy(), edit);
    EXPECT_TRUE(WithoutAccessKey(label->text()).startsWith(QStringLiteral("Confirm ")))
        << label->text().toStdString();
  }
}

}  // namespace
}  // namespace velmora::test
