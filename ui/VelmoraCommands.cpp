// The key and certificate commands, the file dialogs, the output names that follow the
// e-mail, Clear/Reset and About.
#include "ui/VelmoraMain.h"

#include "core/CertRequest.h"
#include "core/Defaults.h"
#include "core/FailureText.h"
#include "core/FileNameText.h"
#include "core/Issuance.h"
#include "core/StoreKeyPair.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "core/Usages.h"
#include "core/ValueConventions.h"
#include "crypto/KeyIdentity.h"
#include "crypto/SecretText.h"
#include "ui/PasswordText.h"
#include "ui_VelmoraMain.h"
#include "velmora/Version.h"

#include <QByteArray>
#include <QFutureWatcher>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
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

// What follows the last separator: the folder the user went to is dropped.
QString SavedFileName(const std::string& Path) {
  return QString::fromStdString(fs::path(Path).filename().string());
}

// Item i of a check list stands for the usage in row i of its table; the set holds the
// checked ones.
template <typename TSet, typename TMember, std::size_t N>
TSet CheckedMembers(const QListWidget* List, const std::array<TUsageInfo<TMember>, N>& Usages) {
  TSet set;
  const int count = std::min(List->count(), static_cast<int>(N));
  for (int i = 0; i < count; ++i)
    if (List->item(i)->checkState() == Qt::Checked)
      set.insert(Usages[static_cast<std::size_t>(i)].Member);
  return set;
}

// The subject as the question about a key pair shows it: "CN=web, O=Example, C=DE".
std::string SubjectText(const TSubjectDN& Subject) {
  const std::pair<const char*, const std::string*> parts[] = {{"CN", &Subject.CN},
                                                              {"OU", &Subject.OU},
                                                              {"O", &Subject.O},
                                                              {"L", &Subject.L},
                                                              {"ST", &Subject.ST},
                                                              {"C", &Subject.C},
                                                              {"emailAddress", &Subject.Email}};
  std::string text;
  for (const auto& [name, value] : parts)
    if (!value->empty()) text += (text.empty() ? "" : ", ") + std::string(name) + "=" + *value;
  return text;
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
      std::string("Version ") + VELMORA_VERSION,
  };
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

// ---- "Generate Key Pair" ----

// Every key starts a new certificate: the old builder goes with its key and certificate,
// whatever happens afterwards.
void TfrmVelmora::btnGenKeyClick() {
  StopSigningRequest();
  ui->memKeyInfo->clear();
  ui->memPreview->clear();
  // The new builder goes to the job and comes back with its key pair, or without one.
  struct TKeyJob {
    std::unique_ptr<TCertBuilder> Builder = std::make_unique<TCertBuilder>();
    std::atomic<bool> Cancel{false};
    std::atomic<int> Candidates{0};
    std::optional<TFailure> Error;
  };
  auto job = std::make_shared<TKeyJob>();
  job->Builder->KeyType = FormKeyType();
  if (job->Builder->KeyType == ktRSA) {
    const std::string bits = ui->cmbRSABits->currentText().toStdString();
    job->Builder->RSABits = IntOrDefault(bits, kDefaultRSABits);
    Log("Generating RSA-" + bits + " key pair ...");
  } else if (job->Builder->KeyType == ktEdwards) {
    job->Builder->EdAlgorithm = ui->cbEdAlg->currentText().toStdString();
    Log("Generating " + job->Builder->EdAlgorithm + " key pair ...");
  } else {
    job->Builder->ECCurve = ui->cmbECCurve->currentText().toStdString();
    Log("Generating ECC " + job->Builder->ECCurve + " key pair ...");
  }
  FCancelKey = [job] { job->Cancel = true; };
  ui->btnCancelKey->setEnabled(true);
  // The prime search reports each candidate it tries; the count shows that work goes on.
  auto* progress = new QTimer(this);
  connect(progress, &QTimer::timeout, this, [this, job] {
    if (const int tried = job->Candidates.load()) {
      ui->lblProgress->setText(QStringLiteral("Prime candidates tried: %1").arg(tried));
    }
  });
  progress->start(100);
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, step = KeyGenerationStep] {
        try {
          job->Builder->GenerateKey([&job = *job, &step] {
            ++job.Candidates;
            if (step) step(job.Cancel);
            return !job.Cancel.load();
          });
        } catch (const std::exception& e) {
          job->Error = FailureOf(e);
        }
      },
      [this, job, progress] {
        progress->deleteLater();
        FCancelKey = nullptr;
        ui->btnCancelKey->setEnabled(false);
        FBuilder = std::move(job->Builder);
        if (job->Error && job->Cancel) {
          Log("Key generation cancelled.");
        } else if (job->Error) {
          Log("ERROR: " + job->Error->Message);
          FPlatform.ShowMessage(KeyFailedText(job->Error->Message), job->Error->Cause);
        } else {
          Log("Key pair generated successfully.");
          ui->btnGenCert->setEnabled(true);
        }
      });
}

void TfrmVelmora::btnCancelKeyClick() {
  if (FCancelKey) FCancelKey();
}

// ---- "Generate Certificate" ----

// The form is read and the store made here; building and saving run as a job that owns the
// builder meanwhile. Its log lines and the question about replacing files reach the window
// as they happen.
void TfrmVelmora::btnGenCertClick() {
  if (!FBuilder->Key()) {
    FPlatform.ShowMessage("Please generate a key pair first (Tab 1 -> Generate Key).");
    return;
  }
  if (!PasswordsConfirmed()) return;
  TCertRequest form;
  std::vector<std::string> requestFindings;
  try {
    form = RequestFromForm();
    if (SigningRequest()) form = RequestToSignAsIssued(form, requestFindings);
  } catch (const Exception& e) {
    ReportCertificateFailure(FailureOf(e));
    return;
  }
  if (ui->rbRequest->isChecked()) {
    GenerateRequest(form);
    return;
  }
  // The subject as the certificate will carry it, for the question about the key pair.
  const std::string subject = SubjectText(form.Subject);
  const std::string keyIdentity = PublicKeyIdentity(FBuilder->Key());
  if (!KeyPairReuseAccepted(keyIdentity, subject)) return;
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
    std::optional<TFailure> Error;
  };
  std::shared_ptr<TCertJob> job;
  TBusyCursor busy(FPlatform);  // until the job has taken over, boxes included
  try {
    ApplyRequestToBuilder(form, *FBuilder);
    FStore->EnsureStoreDir();
    job = std::make_shared<TCertJob>(PasswordBytes(ui->edtCAPwd), PasswordBytes(ui->edtOutKeyPwd),
                                     PasswordBytes(ui->edtOutPFXPwd));
    TIssueRequest& request = job->Request;
    request.CASigned = !ui->rbSelfSigned->isChecked();
    request.CACertFile = FileNameOf(ui->edtCACertFile);
    request.CAKeyFile = FileNameOf(ui->edtCAKeyFile);
    request.CertName = TextOf(ui->edtOutCert);
    // A request's key pair is its requester's: there is no private key to write or bundle.
    const bool ownKey = !SigningRequest();
    request.KeyName = ownKey ? TextOf(ui->edtOutKey) : "";
    request.BundleName = ownKey && ui->chkSavePFX->isChecked() ? TextOf(ui->edtOutPFX) : "";
    request.FriendlyName = TextOf(ui->edtFriendly);
    request.PriorFindings = std::move(requestFindings);
    request.StoreDir = FStore->GetStoreDir();
    request.BundleCompatible = ui->chkPFXCompatible->isChecked();
  } catch (const std::exception& e) {
    ReportCertificateFailure(FailureOf(e));
    return;
  }
  job->Builder = std::move(FBuilder);
  const TIssueEvents events = IssueEventsOnWindow(true);
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, events] {
        try {
          job->Outcome = IssueCertificate(
              *job->Builder, job->Request,
              {job->CAKeyPassword.Text(), job->KeyPassword.Text(), job->BundlePassword.Text()},
              events);
        } catch (const std::exception& e) {
          job->Error = FailureOf(e);
        }
      },
      [this, job, keyIdentity, subject] {
        FBuilder = std::move(job->Builder);
        if (job->Error) {
          ReportCertificateFailure(*job->Error);
          return;
        }
        if (job->Outcome == TIssueOutcome::Declined) return;
        if (!keyIdentity.empty())
          FKeyPairUses[keyIdentity].push_back(
              {job->Request.CertName.empty() ? job->Request.BundleName : job->Request.CertName,
               subject});
        ShowPreview();
        FStore->RefreshStoreList();
        FPlatform.ShowMessage("Certificate generation complete!\nFiles saved to: " +
                              FStore->GetStoreDir());
      });
}

// The request is named after the certificate file, with ".csr" in place of its extension.
void TfrmVelmora::GenerateRequest(const TCertRequest& Form) {
  ui->memPreview->clear();
  struct TRequestJob {
    explicit TRequestJob(std::string Key) : KeyPassword(std::move(Key)) {}
    std::unique_ptr<TCertBuilder> Builder;
    TIssueRequest Request;
    TSecretText KeyPassword;
    TIssueOutcome Outcome = TIssueOutcome::Declined;
    std::optional<TFailure> Error;
  };
  std::shared_ptr<TRequestJob> job;
  TBusyCursor busy(FPlatform);
  try {
    ApplyRequestToBuilder(Form, *FBuilder);
    FStore->EnsureStoreDir();
    job = std::make_shared<TRequestJob>(PasswordBytes(ui->edtOutKeyPwd));
    TIssueRequest& request = job->Request;
    std::string certName = TextOf(ui->edtOutCert);
    if (certName.empty()) certName = kDefaultCertName;
    request.RequestName = std::filesystem::path(certName).replace_extension(".csr").string();
    request.KeyName = TextOf(ui->edtOutKey);
    request.StoreDir = FStore->GetStoreDir();
  } catch (const std::exception& e) {
    ReportCertificateFailure(FailureOf(e));
    return;
  }
  job->Builder = std::move(FBuilder);
  const TIssueEvents events = IssueEventsOnWindow(false);
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, events] {
        try {
          const TSecretText none;
          job->Outcome =
              MakeCertificateRequest(*job->Builder, job->Request,
                                     {none.Text(), job->KeyPassword.Text(), none.Text()}, events);
        } catch (const std::exception& e) {
          job->Error = FailureOf(e);
        }
      },
      [this, job] {
        FBuilder = std::move(job->Builder);
        if (job->Error) {
          ReportCertificateFailure(*job->Error);
          return;
        }
        if (job->Outcome == TIssueOutcome::Declined) return;
        std::string pem = FBuilder->RequestToPEM();
        if (!pem.empty() && pem.back() == '\n') pem.pop_back();
        ui->memPreview->setPlainText(QString::fromStdString(pem));
        FStore->RefreshStoreList();
        FPlatform.ShowMessage("Certificate request complete!\nFiles saved to: " +
                              FStore->GetStoreDir());
      });
}

// What an issuance job tells and asks, said and asked on the window's thread while the job
// waits. The checks before issuing run in the job because they read the CA certificate; the
// log keeps what they found, whatever the answer. Without Checks they are not run.
TIssueEvents TfrmVelmora::IssueEventsOnWindow(bool Checks) {
  TIssueEvents events{
      [this](const std::string& Line) { FJobs->PostToWindow([this, Line] { Log(Line); }); },
      [this](const std::vector<std::string>&, const std::string& Question) {
        bool answer = false;
        FJobs->CallOnWindow([&] { answer = FPlatform.ConfirmYesNo(Question); });
        return answer;
      },
      {}};
  if (Checks)
    events.ConfirmFindings = [this](const std::vector<std::string>& Findings) {
      FJobs->PostToWindow([this, Findings] {
        for (const std::string& finding : Findings) Log("Warning: " + finding);
      });
      bool answer = false;
      FJobs->CallOnWindow([&] { answer = FPlatform.ConfirmYesNo(FindingsQuestion(Findings)); });
      return answer;
    };
  return events;
}

void TfrmVelmora::ReportCertificateFailure(const TFailure& Failure) {
  Log("ERROR: " + Failure.Message);
  FPlatform.ShowMessage(CertificateFailedText(Failure.Message), Failure.Cause);
}

// Compared as typed, before anything is read or written: a password that differs from its
// confirmation would lock the new key or bundle with a password nobody knows. The bundle's
// pair counts only when a bundle is saved: never with a request, which has no bundle. Neither
// counts while somebody else's request is signed: no key pair or bundle is written then.
bool TfrmVelmora::PasswordsConfirmed() {
  if (SigningRequest()) return true;
  const char* mismatch = nullptr;
  if (ui->edtOutKeyPwd->text() != ui->edtOutKeyPwdConfirm->text())
    mismatch = "The private key passwords do not match.";
  else if (ui->chkSavePFX->isChecked() && !ui->rbRequest->isChecked() &&
           ui->edtOutPFXPwd->text() != ui->edtOutPFXPwdConfirm->text())
    mismatch = "The PKCS#12 passwords do not match.";
  if (!mismatch) return true;
  Log(std::string("Certificate not generated: ") + mismatch);
  FPlatform.ShowMessage(mismatch);
  return false;
}

// One key pair behind certificates of different subjects ties them together: whoever holds
// the key is all of them, and revoking one leaves the key alive in the others. Renewing a
// certificate for the same subject with its key pair is common and asks nothing.
bool TfrmVelmora::KeyPairReuseAccepted(const std::string& KeyIdentity, const std::string& Subject) {
  const auto uses = FKeyPairUses.find(KeyIdentity);
  if (KeyIdentity.empty() || uses == FKeyPairUses.end()) return true;
  const auto other =
      std::find_if(uses->second.rbegin(), uses->second.rend(),
                   [&Subject](const TKeyPairUse& Use) { return Use.Subject != Subject; });
  if (other == uses->second.rend()) return true;
  const std::string used = Readable(other->File) + " (" + other->Subject + ")";
  if (FPlatform.ConfirmYesNo("This key pair was already used for " + used +
                             ".\nEach certificate for a different subject should have a key "
                             "pair of its own.\n\nGenerate a new key pair for a different "
                             "certificate?\n\nYes: nothing is issued now; generate a new key "
                             "pair on tab 1 first.\nNo: issue with this key pair again.")) {
    Log("Certificate not generated: the key pair was already used for " + used +
        ". Generate a new key pair first (Tab 1 -> Generate Key).");
    return false;
  }
  Log("Warning: the key pair already used for " + used + " is used again.");
  return true;
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
  request.ValidDays = IntOrDefault(TextOf(ui->edtDays), kDefaultValidDays);
  request.IsCA = ui->chkIsCA->isChecked();
  request.PathLenConstraint = IntOrDefault(TextOf(ui->edtPathLen), 0);
  request.KeyUsage = CheckedMembers<TKeyUsageSet>(ui->clbKeyUsage, kKeyUsages);
  request.ExtKeyUsage = CheckedMembers<TExtKeyUsageSet>(ui->clbEKU, kExtKeyUsages);
  request.SANDNSNames = SplitCommaList(TextOf(ui->edtSANDNS));
  request.SANIPs = SplitCommaList(TextOf(ui->edtSANIP));
  request.SANEmails = SplitCommaList(TextOf(ui->edtSANEmail));
  request.CRLURL = Trim(TextOf(ui->edtCRLURL));
  // The constraints are a CA's; their edits are off, and not read, for any other certificate.
  if (request.IsCA) {
    request.PermittedNames = NameConstraintsFromList(TextOf(ui->edtPermitted));
    request.ExcludedNames = NameConstraintsFromList(TextOf(ui->edtExcluded));
  }
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
  const auto path = FPlatform.OpenFileDialog({"Select CA Certificate",
                                              "PEM Files|*.pem;*.crt;*.cer|All Files|*.*", "",
                                              FStore->GetStoreDir()});
  if (path) ui->edtCACertFile->setText(QString::fromStdString(*path));
}

// The dialog starts on the store's key of the chosen CA certificate when one was found, else
// on no name: the name chosen last, the certificate's, is never a key.
void TfrmVelmora::btnBrowseCAKeyClick() {
  TFileDialogOptions options{"Select CA Private Key", "PEM Files|*.pem;*.key|All Files|*.*", "",
                             FStore->GetStoreDir(), std::string()};
  if (FCAKeyPair && FCAKeyPair->CertPath == FileNameOf(ui->edtCACertFile) &&
      FCAKeyPair->StoreDir == FStore->GetStoreDir())
    options.FileName = FCAKeyPair->KeyName;
  const auto path = FPlatform.OpenFileDialog(options);
  if (path) ui->edtCAKeyFile->setText(QString::fromStdString(*path));
}

// A newer certificate, or a cleared edit, makes an earlier search void and stops it at its
// next file.
void TfrmVelmora::edtCACertFileChange() {
  ++FCAKeyPairRequest;
  if (FCAKeyPairCancel) FCAKeyPairCancel->store(true);
  FCAKeyPairCancel = std::make_shared<std::atomic<bool>>(false);
  FCAKeyPair.reset();
  const std::string cert = FileNameOf(ui->edtCACertFile);
  if (cert.empty()) return;
  const std::string dir = FStore->GetStoreDir();
  const std::uint64_t request = FCAKeyPairRequest;
  std::shared_ptr<std::atomic<bool>> cancel = FCAKeyPairCancel;
  ++FCAKeyPairPending;
  auto* watcher = new QFutureWatcher<std::string>(this);
  connect(watcher, &QFutureWatcher<std::string>::finished, this,
          [this, watcher, request, cert, dir] {
            watcher->deleteLater();
            --FCAKeyPairPending;
            if (request == FCAKeyPairRequest) FCAKeyPair = TCAKeyPair{cert, dir, watcher->result()};
          });
  watcher->setFuture(QtConcurrent::run([cert, dir, cancel] {
    try {
      return FindStoreKeyOfCertificate(cert, dir, [cancel] { return cancel->load(); });
    } catch (const std::exception&) {
      return std::string();  // nothing to offer; the dialog starts empty
    }
  }));
}

void TfrmVelmora::btnBrowseOutCertClick() {
  const auto path =
      FPlatform.SaveFileDialog({"Save Certificate As", "PEM Certificate|*.crt;*.pem|All Files|*.*",
                                "crt", FStore->GetStoreDir()});
  if (path) ui->edtOutCert->setText(SavedFileName(*path));
}

void TfrmVelmora::btnBrowseOutKeyClick() {
  const auto path = FPlatform.SaveFileDialog(
      {"Save Private Key As", "PEM Key|*.key;*.pem|All Files|*.*", "key", FStore->GetStoreDir()});
  if (path) ui->edtOutKey->setText(SavedFileName(*path));
}

void TfrmVelmora::btnBrowseOutPFXClick() {
  const auto path =
      FPlatform.SaveFileDialog({"Save PKCS#12 Bundle As", "PKCS#12|*.pfx;*.p12|All Files|*.*",
                                "pfx", FStore->GetStoreDir()});
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
  StopSigningRequest();
  FBuilder = std::make_unique<TCertBuilder>();
  ui->memKeyInfo->clear();
  ui->memPreview->clear();
  ui->btnGenCert->setEnabled(false);
  Log("Cleared. Ready for a new certificate.");
}

// ---- About ----

void TfrmVelmora::btnAboutClick() { FPlatform.ShowMessage(AboutText()); }

}  // namespace velmora
