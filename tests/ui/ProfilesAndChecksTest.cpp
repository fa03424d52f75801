// The right certificate the first time: the profile box on "4 - Extensions", the question
// about what the checks before issuing found, and the bundle for older systems.
#include "tests/support/RunCommand.h"
#include "tests/ui/CommandFixture.h"

#include <QComboBox>
#include <QLabel>

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>

namespace velmora::test {
namespace {

const QStringList kProfileCaptions = {
    "Custom",          "TLS Server",      "TLS Client",   "TLS Server + Client", "Root CA",
    "Intermediate CA", "E-mail (S/MIME)", "Code Signing", "Time Stamping"};

class ProfilesAndChecks : public CommandFixture {
 protected:
  QComboBox* Profiles() const { return Control<QComboBox>("cbProfile"); }

  // As a user does it: the box takes the focus and the arrow keys walk to the profile.
  void ChooseProfile(const QString& Caption) {
    ShowTab("tabExt");
    QComboBox* box = Profiles();
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < box->count() && box->currentText() != Caption; ++i)
      QTest::keyClick(box, Qt::Key_Down);
    ASSERT_EQ(box->currentText(), Caption);
  }

  // The rows of a check list that are checked.
  std::set<int> Checked(const char* List) const {
    std::set<int> rows;
    const auto* list = Control<QListWidget>(List);
    for (int i = 0; i < list->count(); ++i)
      if (list->item(i)->checkState() == Qt::Checked) rows.insert(i);
    return rows;
  }

  // Space on a row of a check list, as the keyboard toggles it.
  void ToggleRow(const char* List, int Row) {
    ShowTab("tabExt");
    auto* list = Control<QListWidget>(List);
    list->setFocus();
    list->setCurrentRow(Row);
    QTest::keyClick(list, Qt::Key_Space);
  }

  void UseKeyType(bool RSA) {
    ShowTab("tabKey");
    Click(RSA ? "rbRSA" : "rbECC");
  }
};

// ---- The profile box ----

TEST_F(ProfilesAndChecks, TheBoxListsTheProfilesAndStartsAtCustomWithTheFormsDefaults) {
  QStringList captions;
  for (int i = 0; i < Profiles()->count(); ++i) captions << Profiles()->itemText(i);
  EXPECT_EQ(captions, kProfileCaptions);
  EXPECT_EQ(Profiles()->currentText(), "Custom");
  EXPECT_EQ(Control<QLabel>("lblProfile")->buddy(), Profiles());
  // The box sits above the basic constraints on the same sheet.
  EXPECT_TRUE(Control<QWidget>("tabExt")->isAncestorOf(Profiles()));
  ShowTab("tabExt");
  EXPECT_LT(Profiles()->mapTo(Window.get(), QPoint()).y(),
            Control<QWidget>("grpBC")->mapTo(Window.get(), QPoint()).y());
}

struct ProfileCase {
  const char* caption;
  bool rsa;
  bool isCA;
  const char* pathLen;
  std::set<int> keyUsage;     // rows of clbKeyUsage
  std::set<int> extKeyUsage;  // rows of clbEKU
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
  *os << c.caption << (c.rsa ? " RSA" : " EC");
}

class ProfileChoice : public ProfilesAndChecks, public testing::WithParamInterface<ProfileCase> {};

TEST_P(ProfileChoice, SetsTheCAFlagPathLengthAndUsagesAndStaysChosen) {
  const ProfileCase& c = GetParam();
  UseKeyType(c.rsa);
  // Start from something else altogether, so that every box has to be set.
  Control<QCheckBox>("chkIsCA")->setChecked(!c.isCA);
  Type("edtPathLen", "7");
  CheckOnly("clbKeyUsage", {1, 3, 7});
  CheckOnly("clbEKU", {5});

  ChooseProfile(c.caption);

  EXPECT_EQ(Control<QCheckBox>("chkIsCA")->isChecked(), c.isCA);
  EXPECT_EQ(Control<QLineEdit>("edtPathLen")->isEnabled(), c.isCA);
  EXPECT_EQ(TextIn("edtPathLen"), c.pathLen);
  EXPECT_EQ(Checked("clbKeyUsage"), c.keyUsage);
  EXPECT_EQ(Checked("clbEKU"), c.extKeyUsage);
  EXPECT_EQ(Profiles()->currentText(), c.caption);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ProfileChoice,
    testing::Values(ProfileCase{"TLS Server", false, false, "0", {0}, {0}},
                    ProfileCase{"TLS Server", true, false, "0", {0, 2}, {0}},
                    ProfileCase{"TLS Client", true, false, "0", {0}, {1}},
                    ProfileCase{"TLS Server + Client", false, false, "0", {0}, {0, 1}},
                    ProfileCase{"TLS Server + Client", true, false, "0", {0, 2}, {0, 1}},
                    ProfileCase{"Root CA", false, true, "-1", {5, 6}, {}},
                    ProfileCase{"Intermediate CA", true, true, "0", {5, 6}, {}},
                    ProfileCase{"E-mail (S/MIME)", false, false, "0", {0, 4}, {3}},
                    ProfileCase{"E-mail (S/MIME)", true, false, "0", {0, 2}, {3}},
                    ProfileCase{"Code Signing", false, false, "0", {0}, {2}},
                    ProfileCase{"Time Stamping", true, false, "0", {0}, {4}}),
    [](const testing::TestParamInfo<ProfileCase>& info) {
      std::string name;
      for (char ch : std::string(info.param.caption))
        if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
      return name + (info.param.rsa ? "RSA" : "EC");
    });

TEST_F(ProfilesAndChecks, AChangeByHandShowsCustomAndKeepsEverythingElse) {
  struct Case {
    const char* name;
    std::function<void()> change;
    bool isCA;
    const char* pathLen;
    std::set<int> keyUsage;
    std::set<int> extKeyUsage;
  };
  const Case cases[] = {
      {"CA box clicked", [this] { Click("chkIsCA"); }, false, "0", {5, 6}, {}},
      {"path length typed",
       [this] {
         auto* edit = Control<QLineEdit>("edtPathLen");
         edit->setFocus();
         edit->selectAll();
         QTest::keyClicks(edit, "2");
       },
       true,
       "2",
       {5, 6},
       {}},
      {"key usage ticked", [this] { ToggleRow("clbKeyUsage", 0); }, true, "0", {0, 5, 6}, {}},
      {"key usage unticked", [this] { ToggleRow("clbKeyUsage", 6); }, true, "0", {5}, {}},
      {"purpose ticked", [this] { ToggleRow("clbEKU", 5); }, true, "0", {5, 6}, {5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChooseProfile("Intermediate CA");
    c.change();
    EXPECT_EQ(Profiles()->currentText(), "Custom");
    EXPECT_EQ(Control<QCheckBox>("chkIsCA")->isChecked(), c.isCA);
    EXPECT_EQ(TextIn("edtPathLen"), c.pathLen);
    EXPECT_EQ(Checked("clbKeyUsage"), c.keyUsage);
    EXPECT_EQ(Checked("clbEKU"), c.extKeyUsage);
  }
}

TEST_F(ProfilesAndChecks, TheKeyTypeOnTheKeyTabChoosesTheVariantOfTheProfile) {
  UseKeyType(false);
  ChooseProfile("TLS Server");
  EXPECT_EQ(Checked("clbKeyUsage"), std::set<int>{0});
  UseKeyType(true);
  EXPECT_EQ(Checked("clbKeyUsage"), (std::set<int>{0, 2}));
  EXPECT_EQ(Profiles()->currentText(), "TLS Server");
  UseKeyType(false);
  EXPECT_EQ(Checked("clbKeyUsage"), std::set<int>{0});
  EXPECT_EQ(Profiles()->currentText(), "TLS Server");

  // With Custom, usages picked by hand stay whatever the key type.
  ToggleRow("clbKeyUsage", 3);
  ASSERT_EQ(Profiles()->currentText(), "Custom");
  UseKeyType(true);
  EXPECT_EQ(Checked("clbKeyUsage"), (std::set<int>{0, 3}));
  EXPECT_EQ(Profiles()->currentText(), "Custom");
}

// A fresh window (no fixture edits of the usages): the starting key usages are those the key
// type can have, until the user or a profile sets them.
TEST_F(WindowFixture, TheStartingKeyUsagesFollowTheKeyType) {
  const auto checked = [this] {
    std::set<int> rows;
    const auto* list = Control<QListWidget>("clbKeyUsage");
    for (int i = 0; i < list->count(); ++i)
      if (list->item(i)->checkState() == Qt::Checked) rows.insert(i);
    return rows;
  };
  ASSERT_TRUE(Control<QRadioButton>("rbECC")->isChecked());
  EXPECT_EQ(checked(), std::set<int>{kuDigitalSignature});
  Click("rbRSA");
  EXPECT_EQ(checked(), (std::set<int>{kuDigitalSignature, kuKeyEncipherment}));
  Click("rbECC");
  EXPECT_EQ(checked(), std::set<int>{kuDigitalSignature});
  EXPECT_EQ(Control<QComboBox>("cbProfile")->currentText(), "Custom");
}

TEST_F(ProfilesAndChecks, AHostNameInTheCommonNameIsTakenAsTheAlternativeName) {
  GenerateKey();
  Type("edtCN", "www.example.org");
  Type("edtSANDNS", "");

  GenerateCertificate();

  EXPECT_TRUE(Platform.Confirmations.empty()) << "no server without a name to warn about";
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  const X509Ptr cert = ReadCertFile(StoreFile("certificate.crt"));
  ASSERT_NE(cert, nullptr);
  const std::vector<std::string> log = LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Added the common name www.example.org as an alternative name: TLS "
                      "clients look only there."),
            log.end());
  // The openssl command line judges the name; without it the status is not 0 either.
  EXPECT_EQ(RunCommand("openssl verify -x509_strict -purpose sslserver -verify_hostname "
                       "www.example.org -CAfile " +
                       StoreFile("certificate.crt") + " " + StoreFile("certificate.crt"))
                .status,
            0);
}

// ---- The question about what the checks found ----

const std::string kECKeyEncipherment =
    "Key Encipherment with an EC key: an EC key cannot encipher, and RFC 8813 forbids this "
    "usage for it.";
const std::string kServerWithoutName =
    "TLS Server Authentication without a DNS name or IP address among the alternative names: "
    "browsers and current TLS clients ignore the Common Name, so they accept the certificate "
    "for no server.";
const std::string kQuestion = "The checks before issuing found these problems:\n\n- " +
                              kECKeyEncipherment + "\n- " + kServerWithoutName +
                              "\n\nIssue the certificate anyway?";

TEST_F(ProfilesAndChecks, NoToTheFindingsWritesNothingAndTheLogKeepsThem) {
  GenerateKey();
  // Key Encipherment ticked by hand for the EC key, and a server named by no host name
  // anywhere: both are found.
  ToggleRow("clbKeyUsage", 2);
  Type("edtCN", "Command Test");
  Type("edtSANDNS", "");
  SetChecked("chkSavePFX", true);
  Control<QPlainTextEdit>("memPreview")->setPlainText(QStringLiteral("earlier text"));
  Platform.ConfirmAnswers = {false};

  GenerateCertificate();

  EXPECT_EQ(Platform.Confirmations, std::vector<std::string>{kQuestion});
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_TRUE(StoreEntries().empty());
  EXPECT_EQ(Window->Builder().Cert(), nullptr) << "nothing was built";
  EXPECT_NE(Window->Builder().Key(), nullptr);
  EXPECT_TRUE(Control<QPlainTextEdit>("memPreview")->toPlainText().isEmpty());
  const std::vector<std::string> log = LogTexts();
  const std::vector<std::string> tail(log.end() - std::min<std::size_t>(3, log.size()), log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "Warning: " + kECKeyEncipherment, "Warning: " + kServerWithoutName,
                      "Certificate generation cancelled; nothing was written."}));
  EXPECT_EQ(Platform.BusyDepth, 0);
  EXPECT_TRUE(Control<QPushButton>("btnGenCert")->isEnabled());
}

TEST_F(ProfilesAndChecks, YesToTheFindingsIssuesTheCertificateAsAsked) {
  GenerateKey();
  ToggleRow("clbKeyUsage", 2);
  Type("edtCN", "Command Test");
  Type("edtSANDNS", "");
  Platform.ConfirmAnswers = {true};

  GenerateCertificate();

  EXPECT_EQ(Platform.Confirmations, std::vector<std::string>{kQuestion});
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"certificate.crt", "private.key"}));
  const X509Ptr cert = ReadCertFile(StoreFile("certificate.crt"));
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(X509_get_key_usage(cert.get()), KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT);
  const std::vector<std::string> log = LogTexts();
  const auto building = std::find(log.begin(), log.end(), "Building self-signed certificate ...");
  ASSERT_NE(building, log.end());
  EXPECT_EQ(std::vector<std::string>(building - 2, building),
            (std::vector<std::string>{"Warning: " + kECKeyEncipherment,
                                      "Warning: " + kServerWithoutName}));
}

TEST_F(ProfilesAndChecks, AProfileLeavesNothingToAskAbout) {
  GenerateKey();
  Type("edtSANDNS", "");
  ChooseProfile("TLS Client");
  GenerateCertificate();
  EXPECT_TRUE(Platform.Confirmations.empty());
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{CompletionMessage()});
}

// The CA's certificate is read by the job and judged too: an expired CA is named in the one
// question, and No leaves the CA's files and the store as they were.
TEST_F(ProfilesAndChecks, TheSigningCAIsJudgedBeforeAnythingIsBuilt) {
  TCertBuilder ca;
  ca.Subject.CN = "Expired CA";
  ca.IsCA = true;
  ca.KeyUsage = {kuKeyCertSign, kuCRLSign};
  ca.ValidDays = -1;
  ca.GenerateKey();
  ca.BuildSelfSigned();
  const std::string caCert = Temp.File("expired-ca.crt"), caKey = Temp.File("expired-ca.key");
  WriteFile(caCert, ca.CertToPEM());
  WriteFile(caKey, ca.KeyToPEM(""));
  GenerateKey();
  Press("rbCASign");
  Type("edtCACertFile", caCert);
  Type("edtCAKeyFile", caKey);
  Platform.ConfirmAnswers = {false};

  GenerateCertificate();

  ASSERT_EQ(Platform.Confirmations.size(), 1u);
  const std::string& question = Platform.Confirmations[0];
  EXPECT_TRUE(
      question.starts_with("The checks before issuing found these problems:\n\n- The CA "
                           "certificate expired on "))
      << question;
  EXPECT_TRUE(question.ends_with(": nothing it signs verifies.\n\nIssue the certificate anyway?"))
      << question;
  EXPECT_TRUE(StoreEntries().empty());
  EXPECT_EQ(Window->Builder().Cert(), nullptr);
  const std::vector<std::string> log = LogTexts();
  EXPECT_FALSE(std::any_of(log.begin(), log.end(),
                           [](const std::string& line) { return line.starts_with("Building"); }));
}

// ---- The bundle for older systems ----

TEST_F(ProfilesAndChecks, TheCompatibleBoxSitsUnderTheBundleBoxAndIsOffAtStart) {
  auto* box = Control<QCheckBox>("chkPFXCompatible");
  auto* bundle = Control<QCheckBox>("chkSavePFX");
  EXPECT_EQ(box->text(), "Compatible with older systems (3DES, SHA-1)");
  EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(box->parentWidget(), bundle->parentWidget());
  ShowTab("tabOutput");
  EXPECT_EQ(box->x(), bundle->x());
  EXPECT_GT(box->y(), bundle->y());
  // Nothing lies between them: the next control down is the bundle's name.
  EXPECT_LT(box->y(), Control<QWidget>("edtOutPFX")->y());
  // Like the bundle's name and password, it can be set before the bundle is ticked.
  EXPECT_TRUE(box->isEnabled());
  SetChecked("chkSavePFX", true);
  EXPECT_TRUE(box->isEnabled());
}

TEST_F(ProfilesAndChecks, TheCompatibleBoxMakesA3DESBundleWithASHA1Mac) {
  ASSERT_EQ(RunCommand("openssl version").status, 0) << "the openssl command line is needed";
  GenerateKey();
  SetChecked("chkSavePFX", true);
  TypeNewPassword("edtOutPFXPwd", "old windows");
  struct Case {
    bool compatible;
    const char* name;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {true,
       "old.pfx",
       {"MAC: sha1, Iteration 2048", "Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC",
        "PKCS7 Encrypted data: pbeWithSHA1And3-KeyTripleDES-CBC"},
       {"AES-256-CBC"}},
      {false,
       "new.pfx",
       {"MAC: sha256, Iteration 2048", "AES-256-CBC"},
       {"pbeWithSHA1And3-KeyTripleDES-CBC"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetChecked("chkPFXCompatible", c.compatible);
    Type("edtOutPFX", c.name);
    Type("edtOutKey", std::string(c.name) + ".key");
    GenerateCertificate();
    ASSERT_EQ(Platform.Messages.back(), CompletionMessage());
    const TRun info = RunCommand("openssl pkcs12 -info -nokeys -passin 'pass:old windows' -in " +
                                 Quoted(StoreFile(c.name)));
    ASSERT_EQ(info.status, 0) << info.output;
    for (const std::string& text : c.present)
      EXPECT_NE(info.output.find(text), std::string::npos) << text << "\n" << info.output;
    for (const std::string& text : c.absent)
      EXPECT_EQ(info.output.find(text), std::string::npos) << text << "\n" << info.output;
  }
}

}  // namespace
}  // namespace velmora::test
