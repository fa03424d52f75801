// The certificate command, the file dialogs, the output names that follow the e-mail,
// Clear/Reset and About.
#include "ui/VelmoraMain.h"

#include "core/CertRequest.h"
#include "core/FileNameText.h"
#include "core/Issuance.h"
#include "core/StorePaths.h"
#include "crypto/SecretText.h"
#include "core/TextFile.h"
#include "core/ValueConventions.h"
#include "ui_VelmoraMain.h"
#include "velmora/Version.h"

#include <openssl/crypto.h>

#include <QByteArray>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>

namespace fs = std::filesystem;

namespace velmora {

namespace {

std::string TextOf(const QLineEdit* Edit) { return Edit->text().toStdString(); }

// A path edit's text as the file name bytes it stands for: the store hands over names whose
// bytes are not UTF-8 in a reversible form, and they must reach exactly that file.
std::string FileNameOf(const QLineEdit* Edit) { return TextToFileName(Edit->text()); }

// The narrow copy of a password edit's text, for a TSecretText to take over and wipe when
// the command is done with it. Qt's own UTF-8 copy is wiped here at once.
std::string PasswordBytes(const QLineEdit* Edit) {
  QByteArray utf8 = Edit->text().toUtf8();
  std::string narrow(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  OPENSSL_cleanse(utf8.data(), static_cast<std::size_t>(utf8.size()));
  return narrow;
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

// One box for everything the checks before issuing found.
std::string FindingsQuestion(const std::vector<std::string>& Findings) {
  std::string question = "The checks before issuing found these problems:\n";
  for (const std::string& finding : Findings) question += "\n- " + finding;
  return question + "\n\nIssue the certificate anyway?";
}

// Twelve lines and the version; the dash after the name is an em dash.
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
      "Version " VELMORA_VERSION,
  };
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

// ---- "Generate Certificate" ----

// The form is read and the store made here; building and saving run as a job that owns the
// builder meanwhile. Its log lines and the question about replacing files reach the window
// as they happen.
void TfrmVelmora::btnGenCertClick() {
  if (!FBuilder->Key()) {
    FPlatform.ShowMessage("Please generate a key pair first (Tab 1 -> Generate Key).");
    return;
  }
  ui->memPreview->clear();
  struct TCertJob {
    TCertJob(std::string CAKey, std::string Key, std::string Bundle)
        : CAKeyPassword(std::move(CAKey)),
          KeyPassword(std::move(Key)),
          BundlePassword(std::move(Bundle)) {}
    std::unique_ptr<TCertBuilder> Builder;
    TIssueRequest Request;
    TSecretText CAKeyPassword, KeyPassword, BundlePassword;
    TIssueOutcome Outcome = TIssueOutcome::Declined;
    std::optional<std::string> Error;
  };
  std::shared_ptr<TCertJob> job;
  TBusyCursor busy(FPlatform);  // until the job has taken over, boxes included
  try {
    ApplyRequestToBuilder(RequestFromForm(), *FBuilder);
    EnsureStoreDir();
    job = std::make_shared<TCertJob>(PasswordBytes(ui->edtCAPwd), PasswordBytes(ui->edtOutKeyPwd),
                                     PasswordBytes(ui->edtOutPFXPwd));
    TIssueRequest& request = job->Request;
    request.CASigned = !ui->rbSelfSigned->isChecked();
    request.CACertFile = FileNameOf(ui->edtCACertFile);
    request.CAKeyFile = FileNameOf(ui->edtCAKeyFile);
    request.CertName = TextOf(ui->edtOutCert);
    request.KeyName = TextOf(ui->edtOutKey);
    request.BundleName = ui->chkSavePFX->isChecked() ? TextOf(ui->edtOutPFX) : "";
    request.FriendlyName = TextOf(ui->edtFriendly);
    request.StoreDir = GetStoreDir();
    request.BundleCompatible = ui->chkPFXCompatible->isChecked();
  } catch (const std::exception& e) {
    Log(std::string("ERROR: ") + e.what());
    FPlatform.ShowMessage(std::string("Certificate generation failed:\n") + e.what());
    return;
  }
  job->Builder = std::move(FBuilder);
  const TIssueEvents events{
      [this](const std::string& Line) { PostToWindow([this, Line] { Log(Line); }); },
      [this](const std::vector<std::string>&, const std::string& Question) {
        bool answer = false;
        CallOnWindow([&] { answer = FPlatform.ConfirmYesNo(Question); });
        return answer;
      },
      // The checks run in the job because they read the CA certificate; the log keeps what
      // they found, whatever the answer.
      [this](const std::vector<std::string>& Findings) {
        PostToWindow([this, Findings] {
          for (const std::string& finding : Findings) Log("Warning: " + finding);
        });
        bool answer = false;
        CallOnWindow([&] { answer = FPlatform.ConfirmYesNo(FindingsQuestion(Findings)); });
        return answer;
      }};
  RunKeepingFocus(
      TJobKind::Command,
      [job, events] {
        try {
          job->Outcome = IssueCertificate(
              *job->Builder, job->Request,
              {job->CAKeyPassword.Text(), job->KeyPassword.Text(), job->BundlePassword.Text()},
              events);
        } catch (const std::exception& e) {
          job->Error = e.what();
        }
      },
      [this, job] {
        FBuilder = std::move(job->Builder);
        if (job->Error) {
          Log("ERROR: " + *job->Error);
          FPlatform.ShowMessage("Certificate generation failed:\n" + *job->Error);
          return;
        }
        if (job->Outcome == TIssueOutcome::Declined) return;
        ShowPreview();
        RefreshStoreList();
        FPlatform.ShowMessage("Certificate generation complete!\nFiles saved to: " +
                              GetStoreDir());
      });
}

// Subject, validity and extensions as the tabs hold them, read the way every command reads
// an edit.
TCertRequest TfrmVelmora::RequestFromForm() const {
  TCertRequest request;
  TSubjectDN& subject = request.Subject;
  subject.CN = Trim(TextOf(ui->edtCN));
  subject.O = Trim(TextOf(ui->edtO));
  subject.OU = Trim(TextOf(ui->edtOU));
  subject.C = Trim(TextOf(ui->edtC));
  subject.ST = Trim(TextOf(ui->edtST));
  subject.L = Trim(TextOf(ui->edtL));
  subject.Email = Trim(TextOf(ui->edtEmail));
  request.ValidDays = IntOrDefault(TextOf(ui->edtDays), 365);
  request.IsCA = ui->chkIsCA->isChecked();
  request.PathLenConstraint = IntOrDefault(TextOf(ui->edtPathLen), 0);
  request.KeyUsage =
      CheckedMembers<TKeyUsageSet, TKeyUsage>(ui->clbKeyUsage, kuDecipherOnly + 1);
  request.ExtKeyUsage =
      CheckedMembers<TExtKeyUsageSet, TExtKeyUsage>(ui->clbEKU, ekuOCSPSigning + 1);
  request.SANDNSNames = SplitCommaList(TextOf(ui->edtSANDNS));
  request.SANIPs = SplitCommaList(TextOf(ui->edtSANIP));
  request.SANEmails = SplitCommaList(TextOf(ui->edtSANEmail));
  return request;
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
