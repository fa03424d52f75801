// TfrmVelmora: the program's one window. The form itself is VelmoraMain.ui; every control's
// objectName is the name the code uses for it (btnGenCert, edtOutKeyPwd, lvCerts, ...).
//
// The window keeps its life, its look, the log, the enabling rules, the profiles and the
// commands; it owns one object for each other concern and hands it what it needs:
//   VelmoraMain.cpp         the window's life, its look, the log, enabling rules, profiles
//   VelmoraCommands.cpp     the key and certificate commands, the file dialogs, output names,
//                           Clear, About
//   StoreCertificateCommands.cpp  Use as Template, Renew, Export Chain of a store certificate
//   StorePanel.h            the Certificate Store tab (TStorePanel)
//   WindowBands.h           the bands of the window and the pages that scroll (TWindowBands)
//   WindowPlacer.h          where the window opens (TWindowPlacer)
//   KeyboardNavigation.h    Tab order, page keys, Enter, focus marks (TKeyboardNavigation)
//   JobRunner.h             background work (TJobRunner)
#pragma once

#include "core/CSR.h"
#include "core/CertRequest.h"
#include "core/Issuance.h"
#include "core/Renewal.h"
#include "crypto/CertBuilder.h"
#include "ui/JobRunner.h"
#include "ui/KeyboardNavigation.h"
#include "ui/Platform.h"
#include "ui/StorePanel.h"
#include "ui/WindowBands.h"
#include "ui/WindowPlacer.h"

#include <QMainWindow>
#include <QMetaObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCloseEvent;
class QKeyEvent;
class QShowEvent;
class QTime;

namespace Ui {
class TfrmVelmora;
}

namespace velmora {

// The maker's web domain, shown in the caption, the title panel and the About box.
inline constexpr char kMakerDomain[] = "brenmoor.example";

class TfrmVelmora : public QMainWindow, private IStorePanelHost {
  Q_OBJECT

 public:
  // The platform is borrowed and must outlive the window.
  explicit TfrmVelmora(IPlatform& Platform, QWidget* Parent = nullptr);
  ~TfrmVelmora() override;

  // The builder of the certificate being made. Borrowed: the key command and Clear replace it.
  const TCertBuilder& Builder() const noexcept { return *FBuilder; }

  // Whether background work runs: a key pair, a certificate with its files, or a listing.
  bool JobRunning() const noexcept { return FJobs->Running(); }
  // Whether a job or the description of a picked store file is still being worked on.
  // The Expires dates of certificates met for the first time count as well.
  // So does the search for the store's key of a chosen CA certificate.
  // So does a renewal between reading the store and its own job.
  bool Busy() const noexcept {
    return FJobs->Running() || FStore->Busy() || FCAKeyPairPending > 0 || FRenewalPending;
  }

  // Opens the store tab on the folder of the file at Path (absolute) for this session only,
  // without changing the remembered store, and picks the file once it is listed.
  void OpenStoreFile(const std::string& Path);

  // The trust stores the store tab may put a CA certificate into (see TStorePanel).
  void SetTrustPlace(TTrustPlace Place);

  // Appends "[hh:nn:ss] " and Text as the last line of the activity log (memKeyInfo) and
  // scrolls it into view. A text with line breaks becomes several lines, the first stamped.
  void Log(const std::string& Text) override;

  // Called on the job's thread at each step of a key generation, before the step looks
  // whether Cancel was pressed. Tests hold the generation there until they have acted, so no
  // key pair can be finished while they click, however fast the machine.
  std::function<void(const std::atomic<bool>& Cancelled)> KeyGenerationStep;

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void showEvent(QShowEvent* Event) override;

 private:
  // --- The window's life and look (VelmoraMain.cpp) ---
  void FormCreate();
  void ReportInterruptedSaves();
  void FormClose();
  void FormDestroy();
  void ApplyLook();
  void BindEvents();
  void SetDefaultOutputNames();

  // --- What the store tab asks of the window (IStorePanelHost) ---
  void StoreDirChanged() override;
  void UseAsCA(TCAPart Part, const std::string& Path) override;
  void SignRequest(const std::string& Path) override;

  // --- The store's certificate commands (StoreCertificateCommands.cpp) ---
  void UseAsTemplate(const std::string& Path) override;
  void FillFormFromTemplate(const TCertificateTemplate& Template);
  void RenewStoreCertificate(const std::string& Path, bool NewKey) override;
  // After the store was read for the renewal: the questions, then the renewal as a job.
  void RenewAsPlanned(const TRenewalPlan& Plan, bool NewKey);
  // The CA the user picks for a certificate whose issuer is not in the store; false when
  // the user cancels.
  bool ChooseRenewalCA(TRenewOptions& Options);
  void ExportChain(const std::string& Path) override;

  // The handlers of the key type, signing mode and CA controls, by their events' names: each
  // group follows its radio button or check box; a key type chosen also sets the usages its
  // key can have.
  void rbRSAClick() { KeyTypeChosen(); }
  void rbECCClick() { KeyTypeChosen(); }
  void rbEdClick() { KeyTypeChosen(); }
  void rbSelfSignedClick() { UpdateSignModeUI(); }
  void rbCASignClick() { UpdateSignModeUI(); }
  void rbRequestClick() { UpdateSignModeUI(); }
  void chkIsCAClick() { UpdateCAOptionsUI(); }

  // Enabling rules.
  void UpdateKeyTypeUI();
  void KeyTypeChosen();
  TKeyType FormKeyType() const;
  void UpdateSignModeUI();
  void UpdateCAOptionsUI();

  // Profiles: choosing one sets the CA flag, the path length and the usages for the key type
  // of the Key tab (again when that changes); a change to any of them by hand shows "Custom".
  void FillProfiles();
  // cbProfile's handler.
  void ApplyProfileToForm();
  void ExtensionsChangedByHand();
  void UsagesFollowKeyType();
  void CheckKeyUsages(const TKeyUsageSet& Usages);
  void CheckExtKeyUsages(const TExtKeyUsageSet& Usages);
  // Sets every field of the subject, validity and extensions tabs from Values; whatever
  // Values lacks is emptied, not left from before.
  void FillForm(const TCertRequest& Values);

  // --- Signing somebody else's request (RequestSigning.cpp) ---
  // The request, read and verified, goes into the form and the window into the signing
  // state: the request's public key is the key to certify, and only a certificate is written.
  void LoadRequestToSign(const std::string& Path, TCSRView Request);
  // Leaves the signing state: the key controls, the signing modes and the outputs of a key
  // pair come back. Generate Key Pair and Clear / Reset call it.
  void StopSigningRequest();
  bool SigningRequest() const noexcept { return FRequestToSign.has_value(); }
  void UpdateRequestSigningUI();
  // The form against the request, by the copy policy: the certificate to issue. Logs what
  // was requested against what is issued, and gives the findings of the policy.
  TCertRequest RequestToSignAsIssued(const TCertRequest& Form, std::vector<std::string>& Findings);

  // "Generate Key Pair" and its Cancel (VelmoraCommands.cpp).
  void btnGenKeyClick();
  void btnCancelKeyClick();

  // --- Background work (TJobRunner) ---
  // After a job: a close the user confirmed happens now, and a listing asked for meanwhile
  // runs.
  void JobsIdle();
  // A failure box of a CA-signed issuance may say what the CA certificate file holds instead
  // of a certificate.
  void RunJobEnding(const std::function<void()>& Done);

  // --- Certificate command, dialogs, output names, Clear, About (VelmoraCommands.cpp) ---
  void btnGenCertClick();
  // "Generate Certificate" in the request mode: the key and a request for another CA.
  void GenerateRequest(const TCertRequest& Form);
  // Raises Exception for a name-constraint list that does not read.
  TCertRequest RequestFromForm() const;
  TIssueEvents IssueEventsOnWindow(bool Checks);
  // Logs the failure and shows it in the box of a failed certificate generation.
  void ReportCertificateFailure(const TFailure& Failure);
  // Each password typed twice the same; otherwise the box says which and false.
  bool PasswordsConfirmed();
  // A key pair that made a certificate for another subject is used again only when the user
  // says so; true to go on.
  bool KeyPairReuseAccepted(const std::string& KeyIdentity, const std::string& Subject);
  void ShowPreview();
  void btnBrowseCACertClick();
  void btnBrowseCAKeyClick();
  // The store's key of the chosen CA certificate is looked for on a worker thread as soon as
  // the certificate is chosen, so the key dialog can offer it at once.
  void edtCACertFileChange();
  void btnBrowseOutCertClick();
  void btnBrowseOutKeyClick();
  void btnBrowseOutPFXClick();
  void edtEmailChange();
  void btnClearClick();
  void btnAboutClick();

  std::unique_ptr<Ui::TfrmVelmora> ui;
  IPlatform& FPlatform;
  std::unique_ptr<TCertBuilder> FBuilder;  // null while a job holds it
  // Background work: one job at a time. A listing asked for meanwhile runs after it, and a
  // close that the user confirmed happens once it is over.
  TJobRunner* FJobs = nullptr;  // owned by the window
  bool FCloseWhenDone = false;
  std::function<void()> FCancelKey;
  bool FApplyingProfile = false;      // the profile's own changes are no hand changes
  bool FKeyUsagesAreDefaults = true;  // neither the user nor a profile has set them yet
  // The store's key of a CA certificate, found for that certificate and store.
  struct TCAKeyPair {
    std::string CertPath;
    std::string StoreDir;
    std::string KeyName;
  };
  std::optional<TCAKeyPair> FCAKeyPair;
  std::uint64_t FCAKeyPairRequest = 0;
  int FCAKeyPairPending = 0;
  bool FRenewalPending = false;
  std::shared_ptr<std::atomic<bool>> FCAKeyPairCancel;
  // Since the window opened: each key pair (by its identity) with the certificates it made.
  struct TKeyPairUse {
    std::string File;
    std::string Subject;
  };
  std::map<std::string, std::vector<TKeyPairUse>> FKeyPairUses;
  // The request being signed: its file and what it asks for. Its public key is FBuilder's.
  struct TRequestToSign {
    std::string Path;
    TCSRContent Requested;
  };
  std::optional<TRequestToSign> FRequestToSign;
  // Dropped before the controls go, so no handler runs on a half-destroyed window.
  std::vector<QMetaObject::Connection> FConnections;
  // The window's concerns, each working on the form's controls. They go before the controls
  // do, and their connections with them; the keyboard goes first, as it borrows the store.
  std::unique_ptr<TWindowPlacer> FPlacer;
  std::unique_ptr<TWindowBands> FBands;
  std::unique_ptr<TStorePanel> FStore;
  std::unique_ptr<TKeyboardNavigation> FKeyboard;
};

// "[hh:nn:ss] " for the given time of day: the stamp in front of every log line.
std::string LogStamp(const QTime& Time);

}  // namespace velmora
