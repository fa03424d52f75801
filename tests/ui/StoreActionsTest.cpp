// Describing a listed file, and what the buttons under the list do with it.
#include "tests/support/RunCommand.h"
#include "tests/ui/StoreFixture.h"

#include <QAction>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTabWidget>

#include <filesystem>
#include <map>
#include <utility>
#include <vector>

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// A store holding one file of every kind the panel tells apart, made before the window opens.
class StoreActions : public StoreFixture {
 protected:
  void SetUp() override {
    const EVP_PKEYPtr rsa = SharedRSAKey(2048);
    const EVP_PKEYPtr p384 = MakeECKey("P-384");
    const EVP_PKEYPtr p256 = MakeECKey("P-256");
    const X509Ptr rsaCert = MakeSelfSignedCert(rsa.get());
    WriteFile(InStore("rsa2048.crt"), CertToPEM(rsaCert.get()));
    WriteFile(InStore("p384.cer"), CertToPEM(MakeSelfSignedCert(p384.get()).get()));
    WriteFile(InStore("plain.key"), KeyToPKCS8PEM(p256.get()));
    WriteFile(InStore("rsa.key"), KeyToTraditionalPEM(rsa.get()));
    WriteFile(InStore("locked.key"), KeyToPKCS8PEM(p256.get(), "secret"));
    WriteFile(InStore("onlykey.pem"), KeyToPKCS8PEM(p256.get()));
    WriteFile(InStore("bundle.pfx"), MakePKCS12(rsa.get(), rsaCert.get(), {}, "secret"));
    WriteFile(InStore("empty.crt"), std::string());
    StoreFixture::SetUp();
  }

  QString Path(const std::string& Name) const { return QString::fromStdString(InStore(Name)); }
};

TEST_F(StoreActions, SelectingAFileDescribesItByItsExtension) {
  const QString cannotParse =
      QStringLiteral("(Could not parse certificate: PEM_read_bio_X509. OpenSSL: ");
  struct Case {
    std::string name;
    QStringList tail;  // the lines after the blank one
    bool parseError;   // the tail is one could-not-parse line instead
  };
  const Case cases[] = {
      {"rsa2048.crt",
       {"Key Type:     RSA 2048 bit", "Sig Algorithm: RS256", "Has Private Key: False"},
       false},
      {"p384.cer",
       {"Key Type:     ECC P-384", "Sig Algorithm: ES384", "Has Private Key: False"},
       false},
      {"plain.key", {"Key Type: ECC P-256 private key"}, false},
      {"rsa.key", {"Key Type: RSA 2048 bit private key"}, false},
      {"locked.key", {"(Encrypted or unreadable key \u2014 password required)"}, false},
      {"bundle.pfx", {"PKCS#12 bundle \u2014 use Load buttons to import with password."}, false},
      {"onlykey.pem", {}, true},  // .pem is always read as a certificate
      {"empty.crt", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SelectRow(c.name);
    const QStringList lines = InfoLines();
    ASSERT_GE(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "File: " + QString::fromStdString(c.name));
    EXPECT_EQ(lines[1], "Path: " + Path(c.name));
    EXPECT_EQ(lines[2], QStringLiteral("Size: %1 bytes").arg(fs::file_size(InStore(c.name))));
    EXPECT_TRUE(lines[3].startsWith("Modified: ")) << lines[3].toStdString();
    EXPECT_EQ(lines[4], "");
    if (c.parseError) {
      ASSERT_EQ(lines.size(), 6);
      EXPECT_TRUE(lines[5].startsWith(cannotParse) && lines[5].endsWith(')'))
          << lines[5].toStdString();
    } else {
      EXPECT_EQ(lines.mid(5), c.tail);
    }
  }
  // The list shows the empty file as 1 KB, the panel as what it is.
  EXPECT_EQ(Cell(RowOf("empty.crt"), 2), "1 KB");
  EXPECT_EQ(InfoLines()[2], "Size: 0 bytes");
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

TEST_F(StoreActions, DoubleClickOpensTheFileInTheDesktop) {
  DoubleClickRow("p384.cer");
  EXPECT_EQ(Platform.OpenedPaths, std::vector<std::string>{InStore("p384.cer")});
}

struct UseAsCase {
  const char* button;
  const char* edit;
  const char* noSelection;
  const char* logged;
};

void PrintTo(const UseAsCase& c, std::ostream* os) { *os << c.button; }

class UseAs : public StoreActions, public testing::WithParamInterface<UseAsCase> {};

TEST_P(UseAs, WithoutASelectionAsksForOne) {
  const UseAsCase& c = GetParam();
  Click(c.button);
  EXPECT_EQ(Platform.Messages, std::vector<std::string>{c.noSelection});
  EXPECT_EQ(Control<QLineEdit>(c.edit)->text(), "");
  EXPECT_EQ(Control<QTabWidget>("pgcMain")->currentWidget(), Control<QWidget>("tabStore"));
  EXPECT_TRUE(Control<QRadioButton>("rbSelfSigned")->isChecked());
  EXPECT_TRUE(LogLines().isEmpty());
}

// Neither button looks at the file: a certificate can be taken as the key and the other way.
TEST_P(UseAs, PutsTheSelectedFileIntoTheSigningTabWhateverItHolds) {
  const UseAsCase& c = GetParam();
  for (const std::string name : {"rsa2048.crt", "plain.key"}) {
    SCOPED_TRACE(name);
    ShowTab("tabStore");
    SelectRow(name);
    Click(c.button);
    EXPECT_EQ(Control<QLineEdit>(c.edit)->text(), Path(name));
    EXPECT_EQ(Control<QTabWidget>("pgcMain")->currentWidget(), Control<QWidget>("tabSigning"));
    EXPECT_TRUE(Control<QRadioButton>("rbCASign")->isChecked());
    EXPECT_FALSE(Control<QRadioButton>("rbSelfSigned")->isChecked());
    EXPECT_TRUE(Control<QGroupBox>("grpCA")->isEnabled());
    ASSERT_FALSE(LogLines().isEmpty());
    EXPECT_TRUE(IsStampedLine(LogLines().last(), c.logged + name));
  }
  EXPECT_EQ(Control<QLineEdit>("edtCAPwd")->text(), "");
  EXPECT_TRUE(Platform.Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, UseAs,
    testing::Values(UseAsCase{"btnStoreLoadCACert", "edtCACertFile",
                              "Please select a certificate file from the list first.",
                              "CA certificate loaded from store: "},
                    UseAsCase{"btnStoreLoadCAKey", "edtCAKeyFile",
                              "Please select a key file from the list first.",
                              "CA key loaded from store: "}),
    [](const testing::TestParamInfo<UseAsCase>& info) { return std::string(info.param.edit); });

TEST_F(StoreActions, DeleteAnsweredNoLeavesEverythingAsItWas) {
  SelectRow("plain.key");
  const QStringList rows = Rows();
  const QStringList info = InfoLines();
  Platform.ConfirmAnswers.push_back(false);
  Click("btnStoreDelete");
  EXPECT_EQ(Platform.Confirmations, std::vector<std::string>{"Delete plain.key?"});
  EXPECT_TRUE(fs::exists(InStore("plain.key")));
  EXPECT_EQ(Rows(), rows);
  EXPECT_EQ(InfoLines(), info);
  EXPECT_TRUE(LogLines().isEmpty());
}

TEST_F(StoreActions, DeleteAnsweredYesRemovesTheFileLogsRelistsAndEmptiesThePanel) {
  const int before = RowCount();
  SelectRow("plain.key");
  Platform.ConfirmAnswers.push_back(true);
  Click("btnStoreDelete");
  EXPECT_FALSE(fs::exists(InStore("plain.key")));
  ASSERT_EQ(LogLines().size(), 1);
  EXPECT_TRUE(IsStampedLine(LogLines()[0], "Deleted: plain.key"));
  EXPECT_EQ(RowCount(), before - 1);
  EXPECT_EQ(RowOf("plain.key"), -1);
  EXPECT_TRUE(StatusLine().endsWith(QStringLiteral("   (%1 files)").arg(before - 1)));
  EXPECT_TRUE(InfoLines().isEmpty());
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

TEST_F(StoreActions, DeleteWithNothingSelectedDoesNothing) {
  const auto files = std::distance(fs::directory_iterator(StoreDir()), fs::directory_iterator());
  Click("btnStoreDelete");
  EXPECT_TRUE(Platform.Confirmations.empty());
  EXPECT_TRUE(Platform.Messages.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(StoreDir()), fs::directory_iterator()), files);
  EXPECT_TRUE(LogLines().isEmpty());
}

// The row's context menu copies the path, the certificate's PEM and its SHA-256 fingerprint
// (the same one openssl prints); for a file that is no certificate only the path.
TEST_F(StoreActions, ContextMenuCopiesPathPEMAndFingerprint) {
  const EVP_PKEYPtr key = MakeECKey("P-256");
  const X509Ptr cert = MakeSelfSignedCert(key.get(), "menu.example");
  WriteFile(InStore("menu.cer"), CertToDER(cert.get()));
  Click("btnStoreRefresh");
  const auto openMenu = [this](const std::string& Name) {
    const QModelIndex cell = List()->model()->index(RowOf(Name), 0);
    emit List()->customContextMenuRequested(List()->visualRect(cell).center());
    auto* menu = Window->findChild<QMenu*>(QStringLiteral("mnuStoreRow"));
    if (!menu) throw std::runtime_error("no context menu");
    std::map<QString, QAction*> actions;
    for (QAction* action : menu->actions()) actions[action->text()] = action;
    return std::make_pair(menu, actions);
  };
  const auto choose = [](std::pair<QMenu*, std::map<QString, QAction*>> Menu, const char* Text) {
    Menu.second.at(QString::fromLatin1(Text))->trigger();
    Menu.first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return QGuiApplication::clipboard()->text();
  };

  EXPECT_EQ(choose(openMenu("menu.cer"), "Copy Path"), QString::fromStdString(InStore("menu.cer")));
  EXPECT_EQ(choose(openMenu("menu.cer"), "Copy PEM").toStdString(), CertToPEM(cert.get()));
  const TRun openssl = RunCommand("openssl x509 -inform DER -noout -fingerprint -sha256 -in " +
                                  Quoted(InStore("menu.cer")));
  ASSERT_EQ(openssl.status, 0) << openssl.output;
  const std::string printed = openssl.output.substr(openssl.output.find('=') + 1);
  EXPECT_EQ(choose(openMenu("menu.cer"), "Copy SHA-256 Fingerprint").toStdString() + "\n", printed);

  const auto forKey = openMenu("plain.key");
  EXPECT_TRUE(forKey.second.at(QStringLiteral("Copy Path"))->isEnabled());
  EXPECT_FALSE(forKey.second.at(QStringLiteral("Copy PEM"))->isEnabled());
  EXPECT_FALSE(forKey.second.at(QStringLiteral("Copy SHA-256 Fingerprint"))->isEnabled());
  forKey.first->close();
  EXPECT_TRUE(Platform.ErrorBoxes.empty());
}

}  // namespace
}  // namespace velmora::test
