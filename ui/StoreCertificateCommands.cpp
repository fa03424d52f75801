// The certificate commands of the store tab's context menu, carried out by the window: Use as
// Template (the form filled from a certificate), Renew... and Renew with a New Key..., and
// Export Chain... Each reads and writes the store on a worker thread (TJobRunner); the
// questions are asked on the window's thread.
#include "ui/VelmoraMain.h"

#include "core/FileNameText.h"
#include "core/StoreChain.h"
#include "core/StorePaths.h"
#include "crypto/SecretText.h"
#include "ui/PasswordText.h"
#include "ui_VelmoraMain.h"

#include <QSignalBlocker>
#include <QTimer>

#include <filesystem>
#include <memory>

namespace velmora {

namespace {

std::string StemOf(const std::string& Name) { return std::filesystem::path(Name).stem().string(); }

}  // namespace

// ---- Use as Template ----

void TfrmVelmora::UseAsTemplate(const std::string& Path) {
  if (FJobs->Running()) return;
  struct TTemplateJob {
    std::optional<TCertificateTemplate> Template;
    std::optional<TFailure> Error;
  };
  auto job = std::make_shared<TTemplateJob>();
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, Path] {
        try {
          job->Template = TemplateOfCertificateFile(Path);
        } catch (const std::exception& e) {
          job->Error = FailureOf(e);
        }
      },
      [this, job, Path] {
        if (job->Error) throw Exception(job->Error->Message, job->Error->Cause);
        FillFormFromTemplate(*job->Template);
        Log("Form filled from certificate: " + Readable(FileNamePart(Path)));
        for (const std::string& line : job->Template->Log) Log(line);
      });
}

// Every field the template speaks of is set, an empty one emptied; the key is left alone.
// The profile shown is the certificate's, without applying it over what the certificate says.
void TfrmVelmora::FillFormFromTemplate(const TCertificateTemplate& Template) {
  {
    const QSignalBlocker quiet(ui->cbProfile);
    ui->cbProfile->setCurrentIndex(static_cast<int>(Template.Profile));
  }
  FApplyingProfile = true;
  FillForm(Template.Request);
  FApplyingProfile = false;
}

// ---- Renew ----

void TfrmVelmora::RenewStoreCertificate(const std::string& Path, bool NewKey) {
  if (FJobs->Running()) return;
  struct TPlanJob {
    std::optional<TRenewalPlan> Plan;
    std::optional<TFailure> Error;
  };
  auto job = std::make_shared<TPlanJob>();
  const std::string storeDir = FStore->GetStoreDir();
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, Path, storeDir] {
        try {
          job->Plan = PlanRenewal(Path, storeDir);
        } catch (const std::exception& e) {
          job->Error = FailureOf(e);
        }
      },
      [this, job, NewKey] {
        if (job->Error) throw Exception(job->Error->Message, job->Error->Cause);
        // The questions and the renewal's own job come once this job is over: a job is not
        // started from the ending of another.
        FRenewalPending = true;
        QTimer::singleShot(0, this, [this, job, NewKey] {
          FRenewalPending = false;
          RunGuarded(FPlatform, [&] { RenewAsPlanned(*job->Plan, NewKey); });
        });
      });
}

// As "Generate Certificate" asks: the issuer's files through the open dialogs of the Signing
// tab, which then shows them; the CA key's password is the tab's.
bool TfrmVelmora::ChooseRenewalCA(TRenewOptions& Options) {
  const auto cert = FPlatform.OpenFileDialog({"Select CA Certificate",
                                              "PEM Files|*.pem;*.crt;*.cer|All Files|*.*", "",
                                              FStore->GetStoreDir()});
  if (!cert) return false;
  const auto key = FPlatform.OpenFileDialog(
      {"Select CA Private Key", "Key Files|*.key;*.pem|All Files|*.*", "", FStore->GetStoreDir()});
  if (!key) return false;
  Options.CACertFile = *cert;
  Options.CAKeyFile = *key;
  ui->rbCASign->setChecked(true);
  ui->edtCACertFile->setText(FileNameToText(*cert));
  ui->edtCAKeyFile->setText(FileNameToText(*key));
  return true;
}

void TfrmVelmora::RenewAsPlanned(const TRenewalPlan& Plan, bool NewKey) {
  if (!NewKey && Plan.KeyName.empty()) {
    if (!FPlatform.ConfirmYesNo(MissingKeyText(Plan) + "\n\nRenew with a New Key instead?")) return;
    NewKey = true;
  }
  if (NewKey && !PasswordsConfirmed()) return;
  struct TRenewJob {
    TRenewOptions Options;
    std::unique_ptr<TSecretText> KeyPassword, CAKeyPassword;
    TIssueOutcome Outcome = TIssueOutcome::Declined;
    std::optional<TFailure> Error;
  };
  auto job = std::make_shared<TRenewJob>();
  job->Options.NewKey = NewKey;
  if (NewKey) {
    job->KeyPassword = std::make_unique<TSecretText>(PasswordBytes(ui->edtOutKeyPwd));
  } else if (Plan.KeyHasPassword) {
    std::optional<std::string> typed =
        FPlatform.AskPassword("Password of the private key " + Readable(Plan.KeyName) + ":");
    if (!typed) return;
    job->KeyPassword = std::make_unique<TSecretText>(std::move(*typed));
  } else {
    job->KeyPassword = std::make_unique<TSecretText>();
  }
  const bool issuerInStore = !Plan.IssuerCertName.empty() && !Plan.IssuerKeyName.empty();
  if (!Plan.SelfSigned && !issuerInStore && !ChooseRenewalCA(job->Options)) return;
  job->CAKeyPassword = std::make_unique<TSecretText>(PasswordBytes(ui->edtCAPwd));
  const TIssueEvents events = IssueEventsOnWindow(true);
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, Plan, events] {
        try {
          job->Outcome = RenewCertificate(
              Plan, job->Options,
              {job->CAKeyPassword->Text(), job->KeyPassword->Text(), std::string()}, events);
        } catch (const std::exception& e) {
          job->Error = FailureOf(e);
        }
      },
      [this, job, Plan] {
        FStore->RefreshStoreList();
        if (job->Error) {
          Log("ERROR: " + job->Error->Message);
          FPlatform.ShowMessage("Renewal failed:\n" + job->Error->Message, job->Error->Cause);
          return;
        }
        if (job->Outcome == TIssueOutcome::Written)
          FPlatform.ShowMessage("Certificate renewed: " + Readable(Plan.CertName));
      });
}

// ---- Export Chain ----

void TfrmVelmora::ExportChain(const std::string& Path) {
  if (FJobs->Running()) return;
  const std::string storeDir = FStore->GetStoreDir();
  TFileDialogOptions options{"Export Chain As", "PEM Files|*.pem;*.crt|All Files|*.*", "pem",
                             storeDir};
  options.FileName = StemOf(FileNamePart(Path)) + "-fullchain.pem";
  const auto chosen = FPlatform.SaveFileDialog(options);
  if (!chosen) return;
  const std::string name = FileNamePart(*chosen);
  auto failure = std::make_shared<std::optional<TFailure>>();
  auto logLine = std::make_shared<std::string>();
  FJobs->Run(
      TJobRunner::TKind::Command,
      [Path, storeDir, name, failure, logLine] {
        try {
          *logLine = WriteStoreChain(Path, storeDir, name);
        } catch (const std::exception& e) {
          *failure = FailureOf(e);
        }
      },
      [this, failure, logLine] {
        if (*failure) throw Exception((*failure)->Message, (*failure)->Cause);
        Log(*logLine);
        FStore->RefreshStoreList();
      });
}

}  // namespace velmora
