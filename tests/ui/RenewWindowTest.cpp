// The store's certificate commands in the window: Use as Template fills the form from a
// certificate, Renew... renews with the store's key (its password asked in a box) or offers a
// new key when the store has none, and Export Chain... writes the full chain. The store's
// certificates are made by the openssl command line, the results judged by it.
#include "tests/support/RunCommand.h"
#include "tests/ui/CommandFixture.h"

#include <QComboBox>
#include <QMenu>
#include <QRadioButton>

namespace velmora::test {
namespace {

class StoreCertificateCommands : public CommandFixture {
 protected:
  void SetUp() override {
    CommandFixture::SetUp();
    ASSERT_EQ(RunCommand("command -v openssl").status, 0) << "openssl makes the store's files";
    std::filesystem::create_directories(StoreDir);
  }

  TRun OpenSSLIn(const std::string& Args) const {
    return RunCommand("cd " + Quoted(StoreDir) + " && openssl " + Args);
  }

  // root.crt/root.key, a CA, and Name.crt/Name.key issued by Signer (self-signed without).
  void MakeCA(const std::string& Name, const std::string& Signer = {}) const {
    const TRun made = OpenSSLIn(
        "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 365 -subj '/CN=" +
        Name + " CA' -keyout " + Name + ".key -out " + Name + ".crt" +
        (Signer.empty() ? "" : " -CA " + Signer + ".crt -CAkey " + Signer + ".key") +
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
    ASSERT_EQ(made.status, 0) << made.output;
  }
  void MakeLeaf(const std::string& Name, const std::string& Signer, const std::string& KeyOptions,
                int Days = 45) const {
    const TRun made = OpenSSLIn(
        "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 " + KeyOptions + " -days " +
        std::to_string(Days) + " -subj /CN=" + Name + ".example -keyout " + Name + ".key -out " +
        Name + ".crt -CA " + Signer + ".crt -CAkey " + Signer + ".key" +
        " -addext subjectAltName=DNS:" + Name + ".example -addext basicConstraints=CA:FALSE" +
        " -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=serverAuth");
    ASSERT_EQ(made.status, 0) << made.output;
  }

  void Choose(const std::string& Name, const char* Action) {
    Press("btnStoreRefresh");
    WaitIdle();
    ClickStoreRow(Name);
    WaitIdle();
    auto* list = Control<QTableView>("lvCerts");
    const std::vector<std::string> rows = StoreRows();
    const auto row = std::find(rows.begin(), rows.end(), Name) - rows.begin();
    const QModelIndex cell = list->model()->index(static_cast<int>(row), 0);
    emit list->customContextMenuRequested(list->visualRect(cell).center());
    auto* menu = Window->findChild<QMenu*>(QStringLiteral("mnuStoreRow"));
    ASSERT_NE(menu, nullptr);
    auto* action = menu->findChild<QAction*>(QString::fromLatin1(Action));
    ASSERT_NE(action, nullptr) << Action;
    ASSERT_TRUE(action->isEnabled());
    action->trigger();
    menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    WaitIdle();
  }

  std::string Printed(const std::string& Args) const { return OpenSSLIn(Args).output; }
  std::string Serial8(const std::string& Cert) const {
    return Printed("x509 -noout -serial -in " + Cert).substr(7, 8);
  }
  TRun Verify(const std::string& Cert, const std::string& Untrusted = {}) const {
    return OpenSSLIn("verify -x509_strict -CAfile root.crt " +
                     (Untrusted.empty() ? "" : "-untrusted " + Untrusted + " ") + Cert);
  }
};

TEST_F(StoreCertificateCommands, UseAsTemplateFillsTheFormAndEmptiesWhatTheCertificateLacks) {
  MakeCA("root");
  MakeLeaf("web", "root", "-nodes", 45);
  // What an earlier certificate left in the form.
  Type("edtO", "Earlier Org");
  Type("edtSANIP", "10.0.0.1");
  Type("edtDays", "800");
  CheckOnly("clbEKU", {1, 2});
  const EVP_PKEY* keyBefore = Window->Builder().Key();

  Choose("web.crt", "actUseAsTemplate");
  EXPECT_EQ(TextIn("edtCN"), "web.example");
  EXPECT_EQ(TextIn("edtO"), "");
  EXPECT_EQ(TextIn("edtSANDNS"), "web.example");
  EXPECT_EQ(TextIn("edtSANIP"), "");
  EXPECT_EQ(TextIn("edtDays"), "45");
  EXPECT_FALSE(Control<QCheckBox>("chkIsCA")->isChecked());
  auto* eku = Control<QListWidget>("clbEKU");
  for (int i = 0; i < eku->count(); ++i)
    EXPECT_EQ(eku->item(i)->checkState(), i == 0 ? Qt::Checked : Qt::Unchecked) << i;
  EXPECT_EQ(Control<QComboBox>("cbProfile")->currentText(), "TLS Server");
  EXPECT_EQ(Window->Builder().Key(), keyBefore);
  EXPECT_EQ(LastLogLineText(), "Form filled from certificate: web.crt");

  // A CA as template: CA flag on, no extended key usage, profile of its own or Custom.
  Choose("root.crt", "actUseAsTemplate");
  EXPECT_TRUE(Control<QCheckBox>("chkIsCA")->isChecked());
  EXPECT_EQ(TextIn("edtSANDNS"), "");
  for (int i = 0; i < eku->count(); ++i) EXPECT_EQ(eku->item(i)->checkState(), Qt::Unchecked) << i;
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

TEST_F(StoreCertificateCommands, RenewAsksTheKeyPasswordAndKeepsTheOldCertificate) {
  MakeCA("root");
  MakeCA("inter", "root");
  MakeLeaf("web", "inter", "-passout pass:webpass");
  const std::string oldCert = FileText(StoreFile("web.crt")),
                    oldKey = FileText(StoreFile("web.key"));
  const std::string serial8 = Serial8("web.crt");

  Platform.PasswordAnswers = {std::string("webpass")};
  Platform.ConfirmAnswers = {true, true, true};
  Choose("web.crt", "actRenew");
  ASSERT_EQ(Platform.PasswordQuestions,
            std::vector<std::string>{"Password of the private key web.key:"});
  ASSERT_FALSE(Platform.Confirmations.empty())
      << (Platform.Messages.empty() ? "" : Platform.Messages.back()) << LastLogLineText();
  EXPECT_NE(
      Platform.Confirmations[0].find("web.crt (the old one is kept as web." + serial8 + ".crt)"),
      std::string::npos)
      << Platform.Confirmations[0];
  ASSERT_EQ(Platform.Messages.back(), "Certificate renewed: web.crt");
  EXPECT_EQ(FileText(StoreFile("web." + serial8 + ".crt")), oldCert);
  EXPECT_EQ(FileText(StoreFile("web.key")), oldKey);
  EXPECT_NE(FileText(StoreFile("web.crt")), oldCert);
  EXPECT_EQ(Printed("x509 -noout -pubkey -in web.crt"),
            Printed("pkey -pubout -passin pass:webpass -in web.key"));
  const TRun verify = Verify("web.crt", "inter.crt");
  EXPECT_EQ(verify.status, 0) << verify.output;
}

TEST_F(StoreCertificateCommands, AWrongKeyPasswordRenewsNothing) {
  MakeCA("root");
  MakeLeaf("web", "root", "-passout pass:webpass");
  const std::vector<std::string> before = StoreEntries();
  const std::string oldCert = FileText(StoreFile("web.crt"));
  Platform.PasswordAnswers = {std::string("wrong")};
  Platform.ConfirmAnswers = {true, true};
  Choose("web.crt", "actRenew");
  ASSERT_FALSE(Platform.Messages.empty());
  EXPECT_NE(Platform.Messages.back().find("Renewal failed:\n"), std::string::npos)
      << Platform.Messages.back();
  EXPECT_NE(Platform.Messages.back().find("web.key"), std::string::npos)
      << Platform.Messages.back();
  EXPECT_EQ(StoreEntries(), before);
  EXPECT_EQ(FileText(StoreFile("web.crt")), oldCert);
}

TEST_F(StoreCertificateCommands, WithoutItsKeyRenewOffersANewKey) {
  MakeCA("root");
  MakeLeaf("web", "root", "-nodes");
  std::filesystem::remove(StoreFile("web.key"));
  const std::string oldCert = FileText(StoreFile("web.crt"));

  // No: nothing happens.
  Platform.ConfirmAnswers = {false};
  Choose("web.crt", "actRenew");
  ASSERT_EQ(Platform.Confirmations.size(), 1u);
  EXPECT_NE(Platform.Confirmations[0].find("\"web.key\" is missing"), std::string::npos)
      << Platform.Confirmations[0];
  EXPECT_NE(Platform.Confirmations[0].find("Renew with a New Key instead?"), std::string::npos);
  EXPECT_EQ(FileText(StoreFile("web.crt")), oldCert);
  EXPECT_FALSE(std::filesystem::exists(StoreFile("web.key")));

  // Yes: a new key of the same kind beside the certificate.
  Platform.ConfirmAnswers = {true, true, true};
  Choose("web.crt", "actRenew");
  ASSERT_EQ(Platform.Messages.back(), "Certificate renewed: web.crt");
  EXPECT_EQ(Printed("x509 -noout -pubkey -in web.crt"), Printed("pkey -pubout -in web.key"));
  EXPECT_NE(Printed("x509 -noout -text -in web.crt").find("prime256v1"), std::string::npos);
  const TRun verify = Verify("web.crt");
  EXPECT_EQ(verify.status, 0) << verify.output;
}

TEST_F(StoreCertificateCommands, RenewWithANewKeyKeepsTheOldKey) {
  MakeCA("root");
  const std::string oldKey = FileText(StoreFile("root.key"));
  const std::string serial8 = Serial8("root.crt");
  Platform.ConfirmAnswers = {true, true, true};
  Choose("root.crt", "actRenewNewKey");
  ASSERT_EQ(Platform.Messages.back(), "Certificate renewed: root.crt");
  EXPECT_EQ(FileText(StoreFile("root." + serial8 + ".key")), oldKey);
  EXPECT_NE(FileText(StoreFile("root.key")), oldKey);
  EXPECT_EQ(Printed("x509 -noout -pubkey -in root.crt"), Printed("pkey -pubout -in root.key"));
  const TRun verify = Verify("root.crt");
  EXPECT_EQ(verify.status, 0) << verify.output;
}

// The issuer is not in the store: the user picks the CA's two files as for a CA-signed
// certificate, and the Signing tab shows them afterwards.
TEST_F(StoreCertificateCommands, AnIssuerOutsideTheStoreIsChosenByTheUser) {
  MakeCA("root");
  MakeLeaf("web", "root", "-nodes");
  const std::string outside = Temp.File("outside");
  std::filesystem::create_directories(outside);
  for (const char* name : {"root.crt", "root.key"})
    std::filesystem::rename(StoreFile(name), outside + "/" + name);

  Platform.ConfirmAnswers = {true, true, true};
  Choose("web.crt", "actRenew");  // cancelled at the first dialog: nothing changes
  ASSERT_EQ(Platform.OpenFileCalls.size(), 1u);
  EXPECT_EQ(Platform.OpenFileCalls[0].Title, "Select CA Certificate");
  EXPECT_EQ(StoreEntries(), (std::vector<std::string>{"web.crt", "web.key"}));

  Platform.OpenFileAnswers = {outside + "/root.crt", outside + "/root.key"};
  Choose("web.crt", "actRenew");
  ASSERT_EQ(Platform.Messages.back(), "Certificate renewed: web.crt");
  EXPECT_EQ(TextIn("edtCACertFile"), outside + "/root.crt");
  EXPECT_TRUE(Control<QRadioButton>("rbCASign")->isChecked());
  const TRun verify =
      RunCommand("openssl verify -x509_strict -CAfile " + Quoted(outside + "/root.crt") + " " +
                 Quoted(StoreFile("web.crt")));
  EXPECT_EQ(verify.status, 0) << verify.output;
}

TEST_F(StoreCertificateCommands, ExportChainWritesTheCertificateAndItsIssuersBelowTheRoot) {
  MakeCA("root");
  MakeCA("inter", "root");
  MakeLeaf("web", "inter", "-nodes");
  Platform.SaveFileAnswers = {StoreFile("web-chain.pem")};
  Choose("web.crt", "actExportChain");
  ASSERT_EQ(Platform.SaveFileCalls.size(), 1u);
  EXPECT_EQ(Platform.SaveFileCalls[0].FileName, std::optional<std::string>("web-fullchain.pem"));
  EXPECT_EQ(LastLogLineText(), "Certificate chain saved -> web-chain.pem");
  const std::string chain = FileText(StoreFile("web-chain.pem"));
  std::string expected = FileText(StoreFile("web.crt")) + FileText(StoreFile("inter.crt"));
  EXPECT_EQ(chain, expected);
  const TRun verify =
      OpenSSLIn("verify -x509_strict -CAfile root.crt -untrusted web-chain.pem web.crt");
  EXPECT_EQ(verify.status, 0) << verify.output;

  // Without the intermediate the chain cannot be completed, and says which issuer is missing.
  std::filesystem::remove(StoreFile("inter.crt"));
  Platform.SaveFileAnswers = {StoreFile("other-chain.pem")};
  Choose("web.crt", "actExportChain");
  ASSERT_FALSE(Platform.ErrorBoxes.empty());
  EXPECT_NE(Platform.ErrorBoxes.back().find("\"CN=inter CA\", is not in the store"),
            std::string::npos)
      << Platform.ErrorBoxes.back();
  EXPECT_FALSE(std::filesystem::exists(StoreFile("other-chain.pem")));
}

// The commands are a certificate's: on a key's row they are there but off.
TEST_F(StoreCertificateCommands, TheCommandsAreOffForAFileThatIsNoCertificate) {
  MakeCA("root");
  Press("btnStoreRefresh");
  WaitIdle();
  auto* list = Control<QTableView>("lvCerts");
  const std::vector<std::string> rows = StoreRows();
  for (const std::string& name : {std::string("root.key"), std::string("root.crt")}) {
    SCOPED_TRACE(name);
    const auto row = std::find(rows.begin(), rows.end(), name) - rows.begin();
    const QModelIndex cell = list->model()->index(static_cast<int>(row), 0);
    emit list->customContextMenuRequested(list->visualRect(cell).center());
    auto* menu = Window->findChild<QMenu*>(QStringLiteral("mnuStoreRow"));
    ASSERT_NE(menu, nullptr);
    for (const char* action :
         {"actUseAsTemplate", "actRenew", "actRenewNewKey", "actExportChain"}) {
      auto* found = menu->findChild<QAction*>(QString::fromLatin1(action));
      ASSERT_NE(found, nullptr) << action;
      EXPECT_EQ(found->isEnabled(), name == "root.crt") << action;
    }
    menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace
}  // namespace velmora::test
