// The certificate command, the file dialogs, the output names that follow the e-mail,
// Clear/Reset and About.
#include "ui/VelmoraMain.h"

#include "ui/FileNameText.h"
#include "ui/StorePaths.h"
#include "crypto/AtomicFile.h"
#include "crypto/SecretText.h"
#include "ui/TextFile.h"
#include "ui/ValueConventions.h"
#include "ui_VelmoraMain.h"

#include <openssl/crypto.h>

#include <QByteArray>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

namespace {

std::string TextOf(const QLineEdit* Edit) { return Edit->text().toStdString(); }

// A path edit's text as the file name bytes it stands for: the store hands over names whose
// bytes are not UTF-8 in a reversible form, and they must reach exactly that file.
std::string FileNameOf(const QLineEdit* Edit) { return TextToFileName(Edit->text()); }

// The narrow copy of a password edit's text, wiped when the command is done with it. Qt's
// own UTF-8 copy is wiped here at once.
TSecretText PasswordOf(const QLineEdit* Edit) {
  QByteArray utf8 = Edit->text().toUtf8();
  std::string narrow(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  OPENSSL_cleanse(utf8.data(), static_cast<std::size_t>(utf8.size()));
  return TSecretText(std::move(narrow));
}

// A file in the sense of the CA checks: something at that path that is not a directory.
bool FileExists(const std::string& Path) {
  std::error_code ec;
  const fs::file_status status = fs::status(Path, ec);
  return fs::exists(status) && !fs::is_directory(status);
}

bool IsSameFile(const std::string& A, const std::string& B) {
  std::error_code ec;
  return fs::equivalent(A, B, ec) && !ec;
}

// An output that lands on the CA's own certificate or key file would destroy the CA that
// signed this very certificate (and the bundle would then carry the new certificate as its
// own CA). The user gets to choose another name instead.
void RefuseToReplaceCAFiles(const std::string& Path, const std::string& Name,
                            const std::string& CACertFile, const std::string& CAKeyFile) {
  if (IsSameFile(Path, CACertFile))
    throw Exception("\"" + Name + "\" would replace the CA certificate file; choose another name.");
  if (IsSameFile(Path, CAKeyFile))
    throw Exception("\"" + Name + "\" would replace the CA private key file; choose another name.");
}

// What follows the last separator: the folder the user went to is dropped.
QString SavedFileName(const std::string& Path) {
  return QString::fromStdString(fs::path(Path).filename().string());
}

// Item i of a check list stands for member i of the set; the set holds the checked ones.
template <typename TSet, typename TMember>
TSet CheckedMembers(const QListWidget* List, int MemberCount) {
  TSet set;
  const int count = std::min(List->count(), MemberCount);
  for (int i = 0; i < count; ++i)
    if (List->item(i)->checkState() == Qt::Checked) set.insert(static_cast<TMember>(i));
  return set;
}

// Twelve lines; the dash after the name is an em dash.
std::string AboutText() {
  const std::string domain = kMakerDomain;
  const std::string lines[] = {
      "X.509 Velmora \u2014 " + domain,
      "Powered by OpenSSL 3.x",
      "",
      "Supports:",
      "  RSA (1024-8192 bit)",
      "  ECC (P-256, P-384, P-521)",
      "  Self-signed & CA-signed certificates",
      "  Sub-CA certificates",
      "  PEM + PKCS#12 export",
      "  Certificate Store with persistent directory",
      "",
      "  Published on " + domain,
  };
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

// ---- "Generate Certificate" ----

void TfrmVelmora::btnGenCertClick() {
  if (!FBuilder->Key()) {
    FPlatform.ShowMessage("Please generate a key pair first (Tab 1 -> Generate Key).");
    return;
  }
  ui->memPreview->clear();
  TBusyCursor busy(FPlatform);
  try {
    ApplyFormToBuilder();
    EnsureStoreDir();

    const bool caSigned = !ui->rbSelfSigned->isChecked();
    const std::string caCertFile = FileNameOf(ui->edtCACertFile);
    const std::string caKeyFile = FileNameOf(ui->edtCAKeyFile);
    if (!caSigned) {
      Log("Building self-signed certificate ...");
      FBuilder->BuildSelfSigned();
    } else {
      if (caCertFile.empty()) throw Exception("Please specify the CA certificate file.");
      if (caKeyFile.empty()) throw Exception("Please specify the CA private key file.");
      if (!FileExists(caCertFile)) throw Exception("CA certificate file not found.");
      if (!FileExists(caKeyFile)) throw Exception("CA key file not found.");
      const std::string caCertPEM = ReadTextFile(caCertFile);
      const TSecretText caKeyPEM(ReadTextFile(caKeyFile));
      const TSecretText caPassword = PasswordOf(ui->edtCAPwd);
      Log("Building CA-signed certificate ...");
      FBuilder->BuildSignedBy(caCertPEM, caKeyPEM.Text(), caPassword.Text());
    }
    Log("Certificate created successfully.");

    // Every output's place first: a name that is refused stops the command before anything
    // is written.
    const auto outputPath = [&](const std::string& Name) {
      if (Name.empty()) return std::string();
      std::string path = StorePath(Name);
      if (caSigned) RefuseToReplaceCAFiles(path, Name, caCertFile, caKeyFile);
      return path;
    };
    const std::string certName = TextOf(ui->edtOutCert);
    const std::string keyName = TextOf(ui->edtOutKey);
    const std::string bundleName = ui->chkSavePFX->isChecked() ? TextOf(ui->edtOutPFX) : "";
    const std::string certPath = outputPath(certName);
    const std::string keyPath = outputPath(keyName);
    const std::string bundlePath = outputPath(bundleName);
    if (!ConfirmReplacingSecrets({{keyName, keyPath}, {bundleName, bundlePath}})) {
      Log("Certificate generation cancelled; the existing files are kept.");
      return;
    }

    // All outputs are complete on disk before the first replaces its old version, so a
    // failure on the way never leaves a new certificate beside an old key.
    TAtomicFileSet outputs;
    if (!certPath.empty()) FBuilder->StageCertPEM(outputs, certPath);
    if (!keyPath.empty()) {
      const TSecretText password = PasswordOf(ui->edtOutKeyPwd);
      FBuilder->StageKeyPEM(outputs, keyPath, password.Text());
    }
    if (!bundlePath.empty()) {
      // The chain is the CA file as it is now, read again.
      const std::string chainPEM = ui->rbCASign->isChecked() ? ReadTextFile(caCertFile) : "";
      const TSecretText password = PasswordOf(ui->edtOutPFXPwd);
      FBuilder->StagePKCS12(outputs, bundlePath, password.Text(), TextOf(ui->edtFriendly),
                            chainPEM);
    }
    outputs.Commit();
    if (!certPath.empty()) Log("Certificate saved -> " + certName);
    if (!keyPath.empty()) Log("Private key saved -> " + keyName);
    if (!bundlePath.empty()) Log("PKCS#12 saved -> " + bundleName);

    ShowPreview();
    RefreshStoreList();
    FPlatform.ShowMessage("Certificate generation complete!\nFiles saved to: " + GetStoreDir());
  } catch (const std::exception& e) {
    Log(std::string("ERROR: ") + e.what());
    FPlatform.ShowMessage(std::string("Certificate generation failed:\n") + e.what());
  }
}

// A private key or a bundle may be the only copy of a CA's key: replacing one takes the
// user's word. Names is each output's typed name and its path, empty when not written.
bool TfrmVelmora::ConfirmReplacingSecrets(
    const std::vector<std::pair<std::string, std::string>>& Names) {
  std::string existing;
  for (const auto& [name, path] : Names) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (!path.empty() && fs::exists(status) && !fs::is_directory(status))
      existing += Readable(name) + "\n";
  }
  if (existing.empty()) return true;
  return FPlatform.ConfirmYesNo("These files already exist in the store and will be replaced:\n" +
                                existing + "Replace them?");
}

// Subject, validity and extensions as the tabs hold them. Nothing is checked here: the
// builder decides what it makes of a value.
void TfrmVelmora::ApplyFormToBuilder() {
  TSubjectDN& subject = FBuilder->Subject;
  subject.CN = Trim(TextOf(ui->edtCN));
  subject.O = Trim(TextOf(ui->edtO));
  subject.OU = Trim(TextOf(ui->edtOU));
  subject.C = Trim(TextOf(ui->edtC));
  subject.ST = Trim(TextOf(ui->edtST));
  subject.L = Trim(TextOf(ui->edtL));
  subject.Email = Trim(TextOf(ui->edtEmail));
  FBuilder->ValidDays = IntOrDefault(TextOf(ui->edtDays), 365);
  FBuilder->IsCA = ui->chkIsCA->isChecked();
  // A path length left in the disabled edit means nothing for a certificate that is no CA.
  FBuilder->PathLenConstraint = FBuilder->IsCA ? IntOrDefault(TextOf(ui->edtPathLen), 0) : 0;
  FBuilder->KeyUsage =
      CheckedMembers<TKeyUsageSet, TKeyUsage>(ui->clbKeyUsage, kuDecipherOnly + 1);
  FBuilder->ExtKeyUsage =
      CheckedMembers<TExtKeyUsageSet, TExtKeyUsage>(ui->clbEKU, ekuOCSPSigning + 1);
  FBuilder->SANDNSNames = SplitCommaList(TextOf(ui->edtSANDNS));
  FBuilder->SANIPs = SplitCommaList(TextOf(ui->edtSANIP));
  FBuilder->SANEmails = SplitCommaList(TextOf(ui->edtSANEmail));
}

std::vector<std::string> TfrmVelmora::SplitCommaList(const std::string& Text) {
  std::vector<std::string> pieces;
  if (Trim(Text).empty()) return pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = Text.find(',', start);
    const std::string piece = Trim(std::string_view(Text).substr(start, comma - start));
    if (!piece.empty()) pieces.push_back(piece);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return pieces;
}

// The PEM text's lines become the pane's lines; its final line break opens no empty line.
void TfrmVelmora::ShowPreview() {
  std::string pem = FBuilder->CertToPEM();
  if (pem.empty()) return;
  if (pem.back() == '\n') pem.pop_back();
  ui->memPreview->setPlainText(QString::fromStdString(pem));
}

// ---- File dialogs ----
// The CA files are used where they lie, so the open dialogs give back the whole path. The
// outputs always go into the store, so the save dialogs give back the file name only.

void TfrmVelmora::btnBrowseCACertClick() {
  const auto path = FPlatform.OpenFileDialog(
      {"Select CA Certificate", "PEM Files|*.pem;*.crt;*.cer|All Files|*.*", "", GetStoreDir()});
  if (path) ui->edtCACertFile->setText(QString::fromStdString(*path));
}

void TfrmVelmora::btnBrowseCAKeyClick() {
  const auto path = FPlatform.OpenFileDialog(
      {"Select CA Private Key", "PEM Files|*.pem;*.key|All Files|*.*", "", GetStoreDir()});
  if (path) ui->edtCAKeyFile->setText(QString::fromStdString(*path));
}

void TfrmVelmora::btnBrowseOutCertClick() {
  const auto path = FPlatform.SaveFileDialog(
      {"Save Certificate As", "PEM Certificate|*.crt;*.pem|All Files|*.*", "crt", GetStoreDir()});
  if (path) ui->edtOutCert->setText(SavedFileName(*path));
}

void TfrmVelmora::btnBrowseOutKeyClick() {
  const auto path = FPlatform.SaveFileDialog(
      {"Save Private Key As", "PEM Key|*.key;*.pem|All Files|*.*", "key", GetStoreDir()});
  if (path) ui->edtOutKey->setText(SavedFileName(*path));
}

void TfrmVelmora::btnBrowseOutPFXClick() {
  const auto path = FPlatform.SaveFileDialog(
      {"Save PKCS#12 Bundle As", "PKCS#12|*.pfx;*.p12|All Files|*.*", "pfx", GetStoreDir()});
  if (path) ui->edtOutPFX->setText(SavedFileName(*path));
}

// ---- Output names follow the e-mail ----

// Every change overwrites all four, whatever they held: the names stay in step with the
// subject being typed.
void TfrmVelmora::edtEmailChange() {
  const QString email = ui->edtEmail->text();
  ui->edtOutCert->setText(email + QStringLiteral(".crt"));
  ui->edtOutKey->setText(email + QStringLiteral(".key"));
  ui->edtOutPFX->setText(email + QStringLiteral(".pfx"));
  ui->edtFriendly->setText(email);
}

// ---- Clear / Reset ----

// Starts over with a fresh builder; the form keeps what the user entered.
void TfrmVelmora::btnClearClick() {
  FBuilder = std::make_unique<TCertBuilder>();
  ui->memKeyInfo->clear();
  ui->memPreview->clear();
  ui->btnGenCert->setEnabled(false);
  Log("Cleared. Ready for a new certificate.");
}

// ---- About ----

void TfrmVelmora::btnAboutClick() { FPlatform.ShowMessage(AboutText()); }

}  // namespace velmora
