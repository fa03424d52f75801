// A main window whose certificate store is a fresh temporary directory (not yet created),
// with the steps a user takes on the way to a certificate, and readers for what lands on disk.
#pragma once

#include "tests/support/CryptoFixtures.h"
#include "tests/ui/WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velmora::test {

class CommandFixture : public WindowFixture {
 protected:
  void SetUp() override {
    StoreDir = Temp.File("store");
    Platform.StoreDirSetting = StoreDir;
    WindowFixture::SetUp();
    // A certificate must name someone; tests about an empty form clear this again. The form
    // starts as one the checks before issuing find nothing in, with the EC key that
    // GenerateKey makes (whose starting usages leave out Key Encipherment): a server needs its
    // name among the alternative names. Tests about the checks undo this.
    Type("edtCN", "command.test");
    Type("edtSANDNS", "command.test");
  }

  // Brings the control's tab to the front first, as a user must before clicking there.
  void Press(const char* Name) {
    QWidget* control = Control<QWidget>(Name);
    auto* tabs = Control<QTabWidget>("pgcMain");
    for (int i = 0; i < tabs->count(); ++i)
      if (tabs->widget(i)->isAncestorOf(control)) tabs->setCurrentIndex(i);
    Click(Name);
  }

  void Type(const char* Edit, const std::string& Text) {
    Control<QLineEdit>(Edit)->setText(QString::fromStdString(Text));
  }
  // A new password is typed twice: into its edit and into the confirmation below it.
  void TypeNewPassword(const char* Edit, const std::string& Text) {
    Type(Edit, Text);
    Type((std::string(Edit) + "Confirm").c_str(), Text);
  }
  std::string TextIn(const char* Edit) const {
    return Control<QLineEdit>(Edit)->text().toStdString();
  }

  void SetChecked(const char* Box, bool Checked) {
    if (Control<QAbstractButton>(Box)->isChecked() != Checked) Press(Box);
  }

  // Exactly the listed items of a check list are checked.
  void CheckOnly(const char* List, std::initializer_list<int> Items) {
    auto* list = Control<QListWidget>(List);
    for (int i = 0; i < list->count(); ++i)
      list->item(i)->setCheckState(
          std::find(Items.begin(), Items.end(), i) != Items.end() ? Qt::Checked : Qt::Unchecked);
  }

  void GenerateKey() {
    Press("btnGenKey");
    ASSERT_NE(Window->Builder().Key(), nullptr);
  }

  void GenerateCertificate() { Press("btnGenCert"); }

  // Signing by the CA whose certificate and key are the named files of the store.
  // The user picks both files on the store tab and hands each over with its button, which
  // also switches the Signing tab to "Signed by CA / Sub-CA".
  // Files put there from outside show up once the list is refreshed.
  void UseStoreFilesAsCA(const std::string& CertName, const std::string& KeyName) {
    Press("btnStoreRefresh");
    ClickStoreRow(CertName);
    Press("btnStoreLoadCACert");
    ClickStoreRow(KeyName);
    Press("btnStoreLoadCAKey");
  }

  // The names of the files the store list shows, in its order.
  std::vector<std::string> StoreRows() const {
    const QAbstractItemModel* list = Control<QTableView>("lvCerts")->model();
    std::vector<std::string> names;
    for (int row = 0; row < list->rowCount(); ++row)
      names.push_back(list->index(row, 0).data(Qt::UserRole).toByteArray().toStdString());
    return names;
  }

  // The store tab in front and the row of that file scrolled into view; its first cell, or
  // an invalid index (and a failure) when the file is not listed.
  QModelIndex StoreRowInView(const std::string& Name) {
    ShowTab("tabStore");
    const std::vector<std::string> rows = StoreRows();
    const auto found = std::find(rows.begin(), rows.end(), Name);
    if (found == rows.end()) {
      ADD_FAILURE() << Name << " is not listed";
      return {};
    }
    auto* list = Control<QTableView>("lvCerts");
    const QModelIndex cell = list->model()->index(static_cast<int>(found - rows.begin()), 0);
    list->scrollTo(cell);
    return cell;
  }

  void ClickStoreRow(const std::string& Name) {
    const QModelIndex cell = StoreRowInView(Name);
    if (!cell.isValid()) return;
    auto* list = Control<QTableView>("lvCerts");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(cell).center());
  }

  // Opens the context menu of the store row of that file and chooses the action of that
  // objectName; the work it starts runs to its end.
  void ChooseOnStoreRow(const std::string& Name, const char* Action) {
    const QModelIndex cell = StoreRowInView(Name);
    ASSERT_TRUE(cell.isValid());
    auto* list = Control<QTableView>("lvCerts");
    emit list->customContextMenuRequested(list->visualRect(cell).center());
    auto* menu = Window->findChild<QMenu*>(QStringLiteral("mnuStoreRow"));
    ASSERT_NE(menu, nullptr);
    auto* action = menu->findChild<QAction*>(QString::fromLatin1(Action));
    ASSERT_NE(action, nullptr) << "no action " << Action;
    ASSERT_TRUE(action->isEnabled()) << Action << " is not enabled for " << Name;
    action->trigger();
    menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    WaitIdle();
  }

  std::string StoreFile(const std::string& Name) const {
    return (std::filesystem::path(StoreDir) / Name).string();
  }

  // Names of the entries of the store directory, sorted; none when it does not exist.
  std::vector<std::string> StoreEntries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(StoreDir, ec))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The log's lines without their time stamps.
  std::vector<std::string> LogTexts() const {
    std::vector<std::string> texts;
    for (const QString& line : LogLines()) texts.push_back(line.mid(11).toStdString());
    return texts;
  }

  std::string LastLogLineText() const {
    const QStringList lines = LogLines();
    return lines.isEmpty() ? std::string() : lines.back().mid(11).toStdString();
  }

  std::string CompletionMessage() const {
    return "Certificate generation complete!\nFiles saved to: " + StoreDir;
  }

  TempDir Temp;
  std::string StoreDir;
};

// ---- What the command wrote, read back with libcrypto ----

inline std::string FileText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline X509Ptr ReadCertFile(const std::string& Path) {
  const std::string pem = FileText(Path);
  BIOPtr bio = NewMemBuf(pem);
  return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, PassphraseCallback, nullptr));
}

inline EVP_PKEYPtr ReadKeyFile(const std::string& Path, const std::string& Password) {
  const std::string pem = FileText(Path);
  BIOPtr bio = NewMemBuf(pem);
  void* password = Password.empty() ? nullptr : const_cast<char*>(Password.c_str());
  EVP_PKEYPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, PassphraseCallback, password));
  ERR_clear_error();
  return key;
}

struct TBundle {
  EVP_PKEYPtr Key;
  X509Ptr Cert;
  X509StackPtr CACerts;
  bool Parsed = false;
};

inline TBundle ReadBundleFile(const std::string& Path, const std::string& Password) {
  TBundle bundle;
  const std::string der = FileText(Path);
  const BIOPtr bio(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())));
  const PKCS12Ptr p12(d2i_PKCS12_bio(bio.get(), nullptr));
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* cas = nullptr;
  bundle.Parsed = p12 && PKCS12_parse(p12.get(), Password.c_str(), &key, &cert, &cas) == 1;
  bundle.Key.reset(key);
  bundle.Cert.reset(cert);
  bundle.CACerts.reset(cas);
  ERR_clear_error();
  return bundle;
}

inline int CACount(const TBundle& Bundle) {
  return Bundle.CACerts ? sk_X509_num(Bundle.CACerts.get()) : 0;
}

}  // namespace velmora::test
