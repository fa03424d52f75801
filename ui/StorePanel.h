// TStorePanel: the Certificate Store tab. It works on the controls the form already made
// (edtStoreDir, lvCerts, memStoreInfo, the tab's buttons): the remembered store directory, the
// listing of its files, the description of a picked file, and the actions on it.
//
// The window owns the panel and outlives it. What the panel needs of the window (the log,
// handing a file to the Signing tab) goes through IStorePanelHost; the platform and the job
// runner are borrowed from the window as well.
#pragma once

#include "core/Store.h"
#include "core/StoreRelations.h"
#include "core/Trust.h"
#include "ui/JobRunner.h"
#include "ui/Platform.h"
#include "ui/StoreListModel.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFileSystemWatcher;
class QMenu;
class QPoint;
class QTimer;
class QWidget;

namespace Ui {
class TfrmVelmora;
}

namespace velmora {

// Which of the Signing tab's CA fields a store file is handed to.
enum class TCAPart { Certificate, Key };

// What the store tab asks of the window it sits in.
class IStorePanelHost {
 public:
  // Appends Text as the last line of the activity log.
  virtual void Log(const std::string& Text) = 0;
  // The store shown is another folder now: what the window found in the old one is void.
  virtual void StoreDirChanged() = 0;
  // Puts the store file at Path into the Signing tab's field for Part and brings that tab up.
  virtual void UseAsCA(TCAPart Part, const std::string& Path) = 0;
  // Reads the request at Path and, when it verifies, loads it into the form for signing.
  virtual void SignRequest(const std::string& Path) = 0;
  // The certificate commands of a store certificate at Path: the form filled from it ("Use
  // as Template"), the certificate renewed with its key or a new one ("Renew...", "Renew with
  // a New Key..."), its full chain saved ("Export Chain...").
  virtual void UseAsTemplate(const std::string& Path) = 0;
  virtual void RenewStoreCertificate(const std::string& Path, bool NewKey) = 0;
  virtual void ExportChain(const std::string& Path) = 0;

 protected:
  ~IStorePanelHost() = default;
};

class TStorePanel final : public QObject {
  Q_OBJECT

 public:
  // Form, Platform, Jobs and Host are borrowed and must outlive the panel.
  TStorePanel(Ui::TfrmVelmora& Form, IPlatform& Platform, TJobRunner& Jobs, IStorePanelHost& Host);
  ~TStorePanel() override;
  TStorePanel(const TStorePanel&) = delete;
  TStorePanel& operator=(const TStorePanel&) = delete;

  // The list's columns, then the remembered directory in edtStoreDir, which lists it.
  void Open();
  // Remembers the directory shown, unless it was opened for one file only.
  void SaveSettings();
  // Shows the folder of the file at Path (absolute) for this session only, without changing
  // the remembered store, and picks the file once it is listed.
  void OpenStoreFile(const std::string& Path);

  // The directory the store is in: the one shown, or the default one.
  std::string GetStoreDir() const;
  void EnsureStoreDir();

  // The folder is read by a job; a listing asked for while another job runs is kept until
  // RunWantedListing.
  void RefreshStoreList();
  void RunWantedListing();

  // Whether the description of a picked file, or the Expires dates of certificates met for
  // the first time, are still being worked on.
  bool Busy() const noexcept {
    return FFileInfoPending > 0 || FExpiryPending > 0 || FRevocationsPending > 0;
  }

  // Enter on the store tab: true when Focused is on it, which then had its use of the key.
  bool TakesEnter(QWidget* Focused);

  // The trust stores a CA certificate of the store can be put into and the File Info pane
  // reports on: the program gives this computer's; without it (a test that gives no sandbox)
  // the panel neither offers trust nor looks at any store.
  void SetTrustPlace(TTrustPlace Place);

 private:
  struct TStoreListing;

  void BindEvents();
  void BindListSelection();
  void ApplyLook();
  void AddStoreListColumns();
  // The Modified column grows to the widest date and time the regional settings write.
  void FitModifiedColumn();
  int WidestModifiedText(const TDateTimeFormat& Format, int Year) const;

  // Directory and its setting.
  void LoadSettings();
  std::string DefaultStoreDir() const;
  std::string StorePath(const std::string& Name) const;
  void btnOpenStoreDirClick();
  void edtStoreDirChange();
  void btnBrowseStoreDirClick();
  void btnStoreRefreshClick();

  // Listing.
  void ShowStoreListing(TStoreListing& Listing);
  void ReadExpiryInBackground(const std::string& Dir, std::vector<TStoreEntry> Unread);
  void SignCRL(const std::string& Path, bool Revoke);
  void ReadRevocationsInBackground(const std::string& Dir, std::vector<TStoreEntry> Entries);
  // Changes made in the listed folder by other programs list it again, keeping the selection.
  void WatchStoreDir(const std::string& Dir);
  void StoreDirChangedOutside();
  void SelectStoreFile(const std::string& Name);

  // File information and actions. The description of a file larger than kDescribedAtOnce, or
  // one that must read other files of the store (a CRL's CA; a certificate's revocation, when
  // the store holds a CRL), is read on a worker thread, the store's related files after it; a
  // newer pick or a cleared panel makes older results void.
  static constexpr long long kDescribedAtOnce = 64LL * 1024;
  void ShowFileInfo(const std::string& Path);
  bool DescribedAtOnce(const std::string& Path) const;
  void ShowFileDescription(const std::string& Path, std::uint64_t Request,
                           const TFileDescription& Description);
  void ShowFileRelations(const std::string& Path, std::uint64_t Request);
  // Makes the results on their way void; the pane keeps its text.
  void ForgetFileInfo();
  void ClearFileInfo();
  void lvCertsSelectItem(int Row, bool Selected);
  // The row the user picked, or none.
  std::optional<int> SelectedRow() const;
  void lvCertsDblClick();
  // The row's context menu: the copies, Sign Request..., the certificate commands the window
  // carries out, revocation and trust.
  void lvCertsContextMenu(const QPoint& Position);
  // One command of the menu, under the objectName that names it; off unless Enabled.
  void AddCommand(QMenu& Menu, const char* Text, const char* Name, bool Enabled,
                  std::function<void()> Command);
  void CopyCertificateText(const std::string& Path, bool Fingerprint);
  // "Trust on This Computer..." and "Stop Trusting...": a question that lists the targets,
  // the work as a job, then one box with each target's outcome.
  void ChangeTrust(const std::string& Path, bool Install);
  // The "Trusted by: ..." line of a CA certificate, read after the store's related files.
  void ShowTrustedBy(const std::string& Path, std::uint64_t Request);
  void UseStoreFileAsCA(TCAPart Part);
  void btnStoreDeleteClick();

  Ui::TfrmVelmora* const ui;  // borrowed, as are the three below
  IPlatform& FPlatform;
  TJobRunner* const FJobs;
  IStorePanelHost& FHost;
  TStoreListModel* FStoreModel = nullptr;  // owned by lvCerts, which shows it
  bool FListingWanted = false;
  std::string FStoreDir;
  QFileSystemWatcher* FStoreWatcher = nullptr;  // owned by the panel
  QTimer* FStoreWatchDelay = nullptr;           // owned by the panel
  // Picked once the next listing of that folder shows: the picked file kept over a listing
  // that follows the folder, or a file handed over on the command line.
  struct TPendingPick {
    std::string Dir;
    std::string Name;
  };
  std::optional<TPendingPick> FPendingPick;
  bool FOneTimeStore = false;       // the shown folder is not remembered when the window closes
  std::uint64_t FListingShown = 0;  // counts the listings shown
  bool FListingHasCRL = false;      // the listing shown holds a CRL
  std::string FRevokedDir;          // the store whose revoked marks are shown
  std::vector<std::string> FRevokedShown;  // their file names
  // The Modified column's width for the settings, font and year it was measured with.
  QString FModifiedFitFor;
  int FModifiedFitWidth = 0;
  int FExpiryPending = 0;
  int FRevocationsPending = 0;
  std::uint64_t FFileInfoRequest = 0;
  int FFileInfoPending = 0;
  std::shared_ptr<std::atomic<bool>> FFileInfoCancel;
  // What the related-files lines read of the folder's files, for the next pick.
  std::shared_ptr<TStoreReadCache> FReadCache = std::make_shared<TStoreReadCache>();
  std::optional<TTrustPlace> FTrustPlace;
};

}  // namespace velmora
