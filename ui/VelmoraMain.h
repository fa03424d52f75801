// TfrmVelmora: the program's one window. The form itself is VelmoraMain.ui; every control's
// objectName is the name the code uses for it (btnGenCert, edtOutKeyPwd, lvCerts, ...).
//
// The routines are spread over three sources by concern:
//   VelmoraMain.cpp      the window's life, its look, the log, enabling rules, the key command
//   VelmoraCommands.cpp  the certificate command, the file dialogs, output names, Clear, About
//   VelmoraStore.cpp     the certificate store: its directory, listing, file info and actions
// Background work runs through a TJobRunner (JobRunner.h).
#pragma once

#include "core/CertRequest.h"
#include "crypto/CertBuilder.h"
#include "ui/JobRunner.h"
#include "ui/Platform.h"
#include "ui/StoreListModel.h"

#include <QMainWindow>
#include <QMetaObject>
#include <QSize>

class QFileSystemWatcher;
class QTimer;

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QCloseEvent;
class QKeyEvent;
class QShowEvent;
class QPoint;
class QTime;

namespace Ui {
class TfrmVelmora;
}

namespace velmora {

// The maker's web domain, shown in the caption, the title panel and the About box.
inline constexpr char kMakerDomain[] = "brenmoor.example";

class TfrmVelmora : public QMainWindow {
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
  bool Busy() const noexcept {
    return FJobs->Running() || FFileInfoPending > 0 || FExpiryPending > 0 || FCAKeyPairPending > 0;
  }

  // Opens the store tab on the folder of the file at Path (absolute) for this session only,
  // without changing the remembered store, and picks the file once it is listed.
  void OpenStoreFile(const std::string& Path);

  // Appends "[hh:nn:ss] " and Text as the last line of the activity log (memKeyInfo) and
  // scrolls it into view. A text with line breaks becomes several lines, the first stamped.
  void Log(const std::string& Text);

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
  // Where the window opens, the first time it is shown: where the user left it when that
  // place lies wholly on one of the screens now there; otherwise at the form's size, made
  // smaller to fit the free area of its screen, and centred there.
  void PlaceOnScreen();
  void SaveWindowPlacement();
  void BindEvents();
  template <typename TSender, typename TSignal>
  void Bind(TSender* Sender, TSignal Signal, void (TfrmVelmora::*Handler)());
  void BindChecked(QAbstractButton* Button, void (TfrmVelmora::*Handler)());
  void BindStoreListSelection();
  void SetDefaultOutputNames();
  void AddStoreListColumns();
  // The Modified column grows to the widest date and time the regional settings write.
  void FitModifiedColumn();
  bool PressDefaultButton();

  // --- The keyboard and small screens (VelmoraMain.cpp) ---
  // The title, tab area, preview and button bar as bands that give way in that order of need.
  void UseWindowBands();
  // Each page's contents scroll when the window is too short or narrow for them.
  void MakePagesScroll();
  void KeepFocusedControlInView(QWidget* Focused);
  // The read-only panes show a frame while they have the focus, as the edits do.
  void MarkFocusOnPanes();
  // Tab walks the shown page in reading order, then the preview, the button bar and the tab bar.
  void BuildTabOrder();
  // The page keys, and Tab's stops among radio buttons.
  void BindPageKeys();
  void ShowPageByKeyboard(int Step);
  // The focus goes to the first control of the shown page that takes it.
  void FocusFirstInput(bool SelectText = true);
  void MakeChosenRadioButtonsTheTabStops();
  // Labelled inputs are named after their labels for screen readers.
  void NameInputsAfterTheirLabels();
  // Enter on the store tab: the directory edit applies its folder, the list describes its row.
  bool StoreTabTakesEnter(QWidget* Focused);

  // Enabling rules: each group follows its radio button or check box.
  void UpdateKeyTypeUI();
  void UpdateSignModeUI();
  void UpdateCAOptionsUI();
  void rbRSAClick();
  void rbECCClick();
  void rbSelfSignedClick();
  void rbCASignClick();
  void chkIsCAClick();

  // Profiles: choosing one sets the CA flag, the path length and the usages for the key type
  // of the Key tab (again when that changes); a change to any of them by hand shows "Custom".
  void FillProfiles();
  void cbProfileChange();
  void ApplyProfileToForm();
  void ExtensionsChangedByHand();
  void UsagesFollowKeyType();
  void CheckKeyUsages(const TKeyUsageSet& Usages);

  // "Generate Key Pair" and its Cancel.
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
  TCertRequest RequestFromForm() const;
  // Each password typed twice the same; otherwise the box says which and false.
  bool PasswordsConfirmed();
  // A key pair that made a certificate for another subject is used again only when the user
  // says so; true to go on.
  bool KeyPairReuseAccepted(const std::string& KeyIdentity, const std::string& Subject);
  void RememberKeyPairUse(const std::string& KeyIdentity, const std::string& File,
                          const std::string& Subject);
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

  // --- Certificate store (VelmoraStore.cpp) ---
  // Directory and its setting.
  void LoadSettings();
  void SaveSettings();
  std::string DefaultStoreDir() const;
  std::string GetStoreDir() const;
  void EnsureStoreDir();
  std::string StorePath(const std::string& Name) const;
  void btnOpenStoreDirClick();
  // Listing.
  void RefreshStoreList();
  struct TStoreListing;
  void ShowStoreListing(TStoreListing& Listing);
  void ReadExpiryInBackground(const std::string& Dir, std::vector<TStoreEntry> Unread);
  void edtStoreDirChange();
  // Changes made in the listed folder by other programs list it again, keeping the selection.
  void WatchStoreDir(const std::string& Dir);
  void StoreDirChangedOutside();
  void SelectStoreFile(const std::string& Name);
  void btnBrowseStoreDirClick();
  void btnStoreRefreshClick();
  // File information and actions. The description is read on a worker thread, the store's
  // related files after it; a newer pick or a cleared panel makes older results void.
  void ShowFileInfo(const std::string& Path);
  void ShowFileRelations(const std::string& Path, std::uint64_t Request);
  void ClearFileInfo();
  void lvCertsSelectItem(int Row, bool Selected);
  // The row the user picked, or none.
  std::optional<int> SelectedRow() const;
  void lvCertsDblClick();
  // The row's context menu: Copy Path, Copy PEM, Copy SHA-256 Fingerprint.
  void lvCertsContextMenu(const QPoint& Position);
  void CopyCertificateText(const std::string& Path, bool Fingerprint);
  enum class TCAPart { Certificate, Key };
  void UseStoreFileAsCA(TCAPart Part);
  void btnStoreDeleteClick();

  std::unique_ptr<Ui::TfrmVelmora> ui;
  IPlatform& FPlatform;
  std::unique_ptr<TCertBuilder> FBuilder;  // null while a job holds it
  TStoreListModel* FStoreModel = nullptr;  // owned by the window, shown by lvCerts
  // Background work: one job at a time. A listing asked for meanwhile runs after it, and a
  // close that the user confirmed happens once it is over.
  TJobRunner* FJobs = nullptr;  // owned by the window
  bool FListingWanted = false;
  bool FCloseWhenDone = false;
  std::function<void()> FCancelKey;
  bool FApplyingProfile = false;      // the profile's own changes are no hand changes
  bool FKeyUsagesAreDefaults = true;  // neither the user nor a profile has set them yet
  std::string FStoreDir;
  QFileSystemWatcher* FStoreWatcher = nullptr;  // owned by the window
  QTimer* FStoreWatchDelay = nullptr;           // owned by the window
  // Picked once the next listing of that folder shows: the picked file kept over a listing
  // that follows the folder, or a file handed over on the command line.
  struct TPendingPick {
    std::string Dir;
    std::string Name;
  };
  std::optional<TPendingPick> FPendingPick;
  bool FOneTimeStore = false;       // the shown folder is not remembered when the window closes
  std::uint64_t FListingShown = 0;  // counts the listings shown
  int FExpiryPending = 0;
  std::uint64_t FFileInfoRequest = 0;
  int FFileInfoPending = 0;
  std::shared_ptr<std::atomic<bool>> FFileInfoCancel;
  // The window's first show places it; later shows leave it where it is.
  QSize FFormSize;
  bool FPlaced = false;
  // The store's key of a CA certificate, found for that certificate and store.
  struct TCAKeyPair {
    std::string CertPath;
    std::string StoreDir;
    std::string KeyName;
  };
  std::optional<TCAKeyPair> FCAKeyPair;
  std::uint64_t FCAKeyPairRequest = 0;
  int FCAKeyPairPending = 0;
  std::shared_ptr<std::atomic<bool>> FCAKeyPairCancel;
  // Since the window opened: each key pair (by its identity) with the certificates it made.
  struct TKeyPairUse {
    std::string File;
    std::string Subject;
  };
  std::map<std::string, std::vector<TKeyPairUse>> FKeyPairUses;
  // Dropped before the controls go, so no handler runs on a half-destroyed window.
  std::vector<QMetaObject::Connection> FConnections;
};

// "[hh:nn:ss] " for the given time of day: the stamp in front of every log line.
std::string LogStamp(const QTime& Time);

}  // namespace velmora
