// TfrmVelmora: the program's one window. The form itself is VelmoraMain.ui; every control's
// objectName is the name the code uses for it (btnGenCert, edtOutKeyPwd, lvCerts, ...).
//
// The routines are spread over three sources by concern:
//   VelmoraMain.cpp      the window's life, its look, the log, enabling rules, the key command
//   VelmoraCommands.cpp  the certificate command, the file dialogs, output names, Clear, About
//   VelmoraStore.cpp     the certificate store: its directory, listing, file info and actions
#pragma once

#include "core/CertRequest.h"
#include "crypto/CertBuilder.h"
#include "ui/Platform.h"

#include <QMainWindow>
#include <QMetaObject>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QCloseEvent;
class QKeyEvent;
class QTableWidgetItem;
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

  // Appends "[hh:nn:ss] " and Text as the last line of the activity log (memKeyInfo) and
  // scrolls it into view. A text with line breaks becomes several lines, the first stamped.
  void Log(const std::string& Text);

  // Splits at every comma, trims each piece and drops the empty ones; order and
  // duplicates stay.

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  // --- The window's life and look (VelmoraMain.cpp) ---
  void FormCreate();
  void FormClose();
  void FormDestroy();
  void ApplyLook();
  void CentreOnScreen();
  void BindEvents();
  template <typename TSender, typename TSignal>
  void Bind(TSender* Sender, TSignal Signal, void (TfrmVelmora::*Handler)());
  void BindChecked(QAbstractButton* Button, void (TfrmVelmora::*Handler)());
  void BindStoreListSelection();
  void SetDefaultOutputNames();
  void AddStoreListColumns();
  bool PressDefaultButton();

  // Enabling rules: each group follows its radio button or check box.
  void UpdateKeyTypeUI();
  void UpdateSignModeUI();
  void UpdateCAOptionsUI();
  void rbRSAClick();
  void rbECCClick();
  void rbSelfSignedClick();
  void rbCASignClick();
  void chkIsCAClick();

  // "Generate Key Pair".
  void btnGenKeyClick();

  // --- Certificate command, dialogs, output names, Clear, About (VelmoraCommands.cpp) ---
  void btnGenCertClick();
  TCertRequest RequestFromForm() const;
  void ShowPreview();
  void btnBrowseCACertClick();
  void btnBrowseCAKeyClick();
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
  void edtStoreDirChange();
  void btnBrowseStoreDirClick();
  void btnStoreRefreshClick();
  // File information and actions. Item is the row's "File Name" cell (or null).
  void ShowFileInfo(const std::string& Path);
  void lvCertsSelectItem(QTableWidgetItem* Item, bool Selected);
  void lvCertsDblClick();
  void btnStoreLoadCACertClick();
  void btnStoreLoadCAKeyClick();
  void btnStoreDeleteClick();

  std::unique_ptr<Ui::TfrmVelmora> ui;
  IPlatform& FPlatform;
  std::unique_ptr<TCertBuilder> FBuilder;
  std::string FStoreDir;
  // Dropped before the controls go, so no handler runs on a half-destroyed window.
  std::vector<QMetaObject::Connection> FConnections;
};

// "[hh:nn:ss] " for the given time of day: the stamp in front of every log line.
std::string LogStamp(const QTime& Time);

}  // namespace velmora
