// Signing somebody else's certificate request: the store's "Sign Request..." reads and
// verifies the request on a worker thread, then the form shows what it asks for and the window
// certifies its public key. The requester keeps the private key, so no key pair or bundle is
// written; only the certificate is.
#include "ui/VelmoraMain.h"

#include "core/FailureText.h"
#include "core/FileNameText.h"
#include "core/StorePaths.h"
#include "ui_VelmoraMain.h"

#include <QLabel>
#include <QRadioButton>

#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

namespace velmora {

namespace {

QRadioButton* KeyTypeButton(Ui::TfrmVelmora& Form, TKeyType Type) {
  switch (Type) {
    case ktRSA: return Form.rbRSA;
    case ktEdwards: return Form.rbEd;
    case ktECC: break;
  }
  return Form.rbECC;
}

}  // namespace

// A request that does not read, verify or name usable things is refused with the reason, and
// the window stays as it was.
void TfrmVelmora::SignRequest(const std::string& Path) {
  if (FJobs->Running()) return;
  struct TReadJob {
    std::optional<TCSRView> Request;
    std::optional<TFailure> Error;
  };
  auto job = std::make_shared<TReadJob>();
  FJobs->Run(
      TJobRunner::TKind::Command,
      [job, Path] {
        try {
          job->Request.emplace(ReadCSRFile(Path));
        } catch (const std::exception& e) {
          job->Error = FailureOf(e);
        }
      },
      [this, job, Path] {
        if (job->Error) {
          FPlatform.ShowMessage(job->Error->Message, job->Error->Cause);
          return;
        }
        LoadRequestToSign(Path, std::move(*job->Request));
      });
}

// The form shows the certificate the copy policy would issue with nothing edited: the
// request's subject and names, its usages where it asks for any (the profile's otherwise). A
// CA it asks for is not ticked: granting one is the signer's decision.
void TfrmVelmora::LoadRequestToSign(const std::string& Path, TCSRView Request) {
  TCSRContent requested = Request.Content();
  // The profile's usages are those of the request's key type.
  KeyTypeButton(*ui, KeyTypeOf(Request.KeyFacts().Family))->setChecked(true);
  ui->chkIsCA->setChecked(false);  // a CA's name constraints are not the request's defaults
  const TCSRIssuePlan plan = PlanCSRIssue(requested, RequestFromForm(), {});
  FillForm(plan.Certificate);

  auto builder = std::make_unique<TCertBuilder>();
  builder->UseRequestPublicKey(Request.PublicKey());
  FBuilder = std::move(builder);
  FRequestToSign = TRequestToSign{Path, std::move(requested)};

  const std::string name = FileNamePart(Path);
  ui->edtOutCert->setText(
      FileNameToText(std::filesystem::path(name).replace_extension(".crt").string()));
  ui->lblRequestKey->setText(QString::fromStdString("Public key from request " + Readable(name) +
                                                    " (" + CSRKeyText(Request) + ")"));
  ui->rbCASign->setChecked(true);
  UpdateRequestSigningUI();
  ui->btnGenCert->setEnabled(true);
  std::string pem = Request.PEM();
  if (!pem.empty() && pem.back() == '\n') pem.pop_back();
  ui->memPreview->setPlainText(QString::fromStdString(pem));

  Log("Certificate request loaded for signing: " + Readable(name));
  for (const std::string& line : plan.Log) Log(line);
  if (FRequestToSign->Requested.IsCA)
    Log("The request asks for a CA certificate: tick \"This is a CA certificate\" to grant it.");
  ui->pgcMain->setCurrentWidget(ui->tabSigning);
}

void TfrmVelmora::StopSigningRequest() {
  if (!FRequestToSign) return;
  FRequestToSign.reset();
  UpdateRequestSigningUI();
}

// While a request is signed its key is the only key: the key controls, the modes that need a
// key pair of the window's own and the outputs of a private key are off.
void TfrmVelmora::UpdateRequestSigningUI() {
  const bool signing = SigningRequest();
  ui->lblRequestKey->setVisible(signing);
  ui->grpKeyType->setEnabled(!signing);
  if (signing) {
    for (QWidget* group : std::initializer_list<QWidget*>{ui->grpRSA, ui->grpECC, ui->grpEd})
      group->setEnabled(false);
  } else {
    UpdateKeyTypeUI();
  }
  ui->rbSelfSigned->setEnabled(!signing);
  ui->rbRequest->setEnabled(!signing);
  ui->grpOutKey->setEnabled(!signing);
  UpdateSignModeUI();
}

// Everything the form holds counts as the signer's edit; the policy still names what it
// drops and whether a CA that was asked for is granted. Name constraints are the signer's own
// and stay as the form has them.
TCertRequest TfrmVelmora::RequestToSignAsIssued(const TCertRequest& Form,
                                                std::vector<std::string>& Findings) {
  TCSREdits edits;
  edits.Subject = Form.Subject;
  edits.SANDNSNames = Form.SANDNSNames;
  edits.SANIPs = Form.SANIPs;
  edits.SANEmails = Form.SANEmails;
  edits.KeyUsage = Form.KeyUsage;
  edits.ExtKeyUsage = Form.ExtKeyUsage;
  edits.GrantCA = Form.IsCA;
  edits.PathLenConstraint = Form.PathLenConstraint;
  TCSRIssuePlan plan = PlanCSRIssue(FRequestToSign->Requested, Form, edits);
  Log("Requested vs. issued:");
  for (const std::string& line : plan.Comparison) Log("  " + line);
  for (const std::string& line : plan.Log) Log(line);
  Findings = std::move(plan.Findings);
  plan.Certificate.PermittedNames = Form.PermittedNames;
  plan.Certificate.ExcludedNames = Form.ExcludedNames;
  return plan.Certificate;
}

}  // namespace velmora
