// What the window asks of the desktop: message boxes, file and folder dialogs, the busy
// cursor, opening a path in the desktop and the one per-user setting. The window receives an
// IPlatform when it is made; the program passes QtPlatform, the tests a fake that records
// every call and answers from a script (a real modal box would block a test).
#pragma once

#include "core/FailureText.h"
#include "core/Revocation.h"
#include "core/WindowSetting.h"
#include "crypto/Exception.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace velmora {

// The application title: the caption of every box the program shows.
inline constexpr char kApplicationTitle[] = "X.509 Velmora";

struct TFileDialogOptions {
  std::string Title;
  // Pairs separated by "|": a description, then its patterns separated by ";",
  // e.g. "PEM Files|*.pem;*.crt|All Files|*.*".
  std::string Filter;
  // Appended (after a dot) to a name typed without extension; empty for none.
  std::string DefaultExt;
  std::string InitialDir;
  // The file name the dialog starts with, in InitialDir; empty for none. Nothing: the name
  // chosen in the last dialog of the same kind, as a dialog object kept by the window offers.
  std::optional<std::string> FileName = std::nullopt;
};

// What the Revoke... and Publish CRL... dialog asks: the reason (revoking only), the days until
// the CRL's next update, and the CA key's password.
struct TCRLDialogOptions {
  std::string Caption;  // "Revoke leaf.crt"
  bool AskReason = true;
};
struct TCRLChoice {
  TRevocationReason Reason = TRevocationReason::Unspecified;
  std::int32_t Days = kDefaultCRLDays;
  std::string CAKeyPassword;
};

class IPlatform {
 public:
  virtual ~IPlatform() = default;

  // The small dialog of Revoke... and Publish CRL...; nothing when the user cancels.
  virtual std::optional<TCRLChoice> AskCRLSigning(const TCRLDialogOptions& Options) {
    static_cast<void>(Options);
    return std::nullopt;
  }

  // Every box of the window passes through these, so no failure is left out: when the
  // failure has a common cause (a wrong CA password, a CA file of the wrong kind, a store
  // folder that cannot be written...), the box says it in plain words first and shows the
  // text, unchanged, after a blank line (core/PlainWords.h). Other texts show as they are.
  // Cause is that of the failure the text reports; a text that reports none has none.
  //
  // Modal box with one OK button; "\n" starts a new line.
  void ShowMessage(const std::string& Text, const TFailureCause& Cause = {});
  // The box for an error that ended an event handler: stop icon, one OK button.
  void ShowErrorBox(const std::string& Text, const TFailureCause& Cause = {});

  // The CA certificate file the plain words may look into when a box says that a CA
  // certificate file held no certificate, to say what it holds instead; empty, they do not
  // look. Use TPlainWordsCACertFile.
  void SetPlainWordsCACertFile(std::string Path) { FPlainWordsCACertFile = std::move(Path); }

  // Yes/No question with Yes as the default; true when the answer is Yes.
  virtual bool ConfirmYesNo(const std::string& Text) = 0;
  // A password box: Text above a hidden edit, OK and Cancel; the password typed, or nothing
  // when the user cancels.
  virtual std::optional<std::string> AskPassword(const std::string& Text) = 0;

  // File dialogs; the chosen path, or nothing when the user cancels. The open dialog accepts
  // only an existing file; the save dialog asks before it lets an existing file be chosen.
  virtual std::optional<std::string> OpenFileDialog(const TFileDialogOptions& Options) = 0;
  virtual std::optional<std::string> SaveFileDialog(const TFileDialogOptions& Options) = 0;
  // Folder dialog (folders only, can make a new folder); the chosen folder or nothing.
  virtual std::optional<std::string> FolderDialog(const std::string& Caption,
                                                  const std::string& InitialDir) = 0;

  // Hands a file or folder to the desktop, which opens it in its associated program. False
  // when the desktop could not: no program is set up to open it (no file manager, say).
  virtual bool OpenInDesktop(const std::string& Path) = 0;

  // Busy cursor for the whole application; calls nest. Use TBusyCursor.
  virtual void BeginBusyCursor() = 0;
  virtual void EndBusyCursor() noexcept = 0;

  // The remembered store directory. Nothing when it was never saved or does not hold text.
  // Raises Exception when the setting cannot be read at all, saying why (for instance
  // "Settings file "<path>" is not a regular file").
  virtual std::optional<std::string> ReadStoreDirSetting() = 0;
  // Saves it; a failure to save is silently ignored.
  virtual void WriteStoreDirSetting(const std::string& Value) = 0;

  // Where the window stood and how large it was when it last closed; nothing when it never
  // closed or the setting holds something else. Never raises: a window without a remembered
  // place opens as it would the first time.
  virtual std::optional<TWindowPlacement> ReadWindowPlacementSetting() { return std::nullopt; }
  // Saves it; a failure to save is silently ignored.
  virtual void WriteWindowPlacementSetting(const TWindowPlacement&) {}

  // The directory holding the program's executable, without a trailing separator.
  virtual std::string ApplicationDir() = 0;
  // The user's own data folder for this program, without a trailing separator.
  virtual std::string UserDataDir() = 0;

  // How long the store list waits after a change that another program made in its folder
  // before it lists the folder again, so a burst of changes costs one listing; below zero,
  // the folder is not watched.
  virtual int FolderWatchDelayMs() { return 300; }

 protected:
  // The boxes themselves, given the text as it is to be shown.
  virtual void ShowMessageBox(const std::string& Text) = 0;
  virtual void ShowStopBox(const std::string& Text) = 0;

 private:
  std::string InPlainWords(const std::string& Text, const TFailureCause& Cause) const;

  std::string FPlainWordsCACertFile;
};

// The CA certificate file the plain words of the boxes may look into, for the life of the
// object.
class TPlainWordsCACertFile {
 public:
  TPlainWordsCACertFile(IPlatform& Platform, std::string Path) : FPlatform(Platform) {
    FPlatform.SetPlainWordsCACertFile(std::move(Path));
  }
  ~TPlainWordsCACertFile() { FPlatform.SetPlainWordsCACertFile({}); }
  TPlainWordsCACertFile(const TPlainWordsCACertFile&) = delete;
  TPlainWordsCACertFile& operator=(const TPlainWordsCACertFile&) = delete;

 private:
  IPlatform& FPlatform;
};

// Busy cursor for the life of the object, so it is restored on every path.
class TBusyCursor {
 public:
  explicit TBusyCursor(IPlatform& Platform) : FPlatform(Platform) { FPlatform.BeginBusyCursor(); }
  ~TBusyCursor() { FPlatform.EndBusyCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  IPlatform& FPlatform;
};

// "PEM Files|*.pem;*.crt|All Files|*.*" -> "PEM Files (*.pem *.crt);;All Files (*)".
// "*.*" becomes "*": here a file name needs no dot to be a file.
std::string ToQtFilter(const std::string& Filter);

// Runs an event handler so that no exception reaches Qt's event loop: an error that ends the
// handler is shown in the platform's error box and the program goes on waiting for input.
void RunGuarded(IPlatform& Platform, const std::function<void()>& Handler) noexcept;

// The desktop as Qt offers it.
class QtPlatform final : public IPlatform {
 public:
  bool ConfirmYesNo(const std::string& Text) override;
  std::optional<std::string> AskPassword(const std::string& Text) override;
  std::optional<TCRLChoice> AskCRLSigning(const TCRLDialogOptions& Options) override;
  std::optional<std::string> OpenFileDialog(const TFileDialogOptions& Options) override;
  std::optional<std::string> SaveFileDialog(const TFileDialogOptions& Options) override;
  std::optional<std::string> FolderDialog(const std::string& Caption,
                                          const std::string& InitialDir) override;
  bool OpenInDesktop(const std::string& Path) override;
  void BeginBusyCursor() override;
  void EndBusyCursor() noexcept override;
  std::optional<std::string> ReadStoreDirSetting() override;
  void WriteStoreDirSetting(const std::string& Value) override;
  std::optional<TWindowPlacement> ReadWindowPlacementSetting() override;
  void WriteWindowPlacementSetting(const TWindowPlacement& Placement) override;
  std::string ApplicationDir() override;
  std::string UserDataDir() override;

 protected:
  void ShowMessageBox(const std::string& Text) override;
  void ShowStopBox(const std::string& Text) override;

 private:
  // Each dialog remembers the name and the filter chosen last time, as a dialog object kept
  // by the window would.
  struct TDialogMemory {
    std::string FileName;
    int FilterIndex = 0;
  };
  std::optional<std::string> RunFileDialog(bool Save, const TFileDialogOptions& Options,
                                           TDialogMemory& Memory);

  TDialogMemory FOpenMemory;
  TDialogMemory FSaveMemory;
};

}  // namespace velmora
