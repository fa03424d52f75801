// A desktop for the widget tests: records every call the window makes and answers from a
// script, so no modal box or dialog ever blocks a test and nothing touches the user's files.
#pragma once

#include "ui/Platform.h"

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::test {

class FakePlatform final : public IPlatform {
 public:
  // What the window showed or asked for, in order of calls.
  std::vector<std::string> Messages;
  std::vector<std::string> Confirmations;
  std::vector<std::string> PasswordQuestions;
  std::vector<std::string> ErrorBoxes;
  std::vector<TFileDialogOptions> OpenFileCalls;
  std::vector<TFileDialogOptions> SaveFileCalls;
  std::vector<std::pair<std::string, std::string>> FolderCalls;  // caption, initial folder
  std::vector<std::string> OpenedPaths;
  std::vector<std::string> StoreDirWrites;
  std::vector<TWindowPlacement> WindowPlacementWrites;
  int BusyStarts = 0;
  int BusyDepth = 0;                  // 0: the normal cursor is showing
  std::vector<int> BusyDepthAtBoxes;  // the busy depth while each message or error box was up

  // The script. An empty answer queue means "cancelled" for dialogs and "No" for questions.
  std::deque<bool> ConfirmAnswers;
  std::deque<std::optional<std::string>> PasswordAnswers;
  std::deque<std::optional<TCRLChoice>> CRLAnswers;
  std::vector<TCRLDialogOptions> CRLCalls;
  std::deque<std::optional<std::string>> OpenFileAnswers;
  std::deque<std::optional<std::string>> SaveFileAnswers;
  std::deque<std::optional<std::string>> FolderAnswers;
  std::optional<std::string> StoreDirSetting;              // nothing: never saved
  std::optional<TWindowPlacement> WindowPlacementSetting;  // nothing: never saved
  std::string AppDir = "/nonexistent/velmora-test-app";
  std::string DataDir = "/nonexistent/velmora-test-data";
  // Off unless a test turns it on: a listing that starts on its own would race the clicks of
  // tests that change the store themselves.
  int WatchDelayMs = -1;
  // Whether the desktop can open what it is handed (the path is recorded either way).
  bool DesktopOpens = true;

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
  int FolderWatchDelayMs() override { return WatchDelayMs; }

 protected:
  // The texts as the boxes would show them.
  void ShowMessageBox(const std::string& Text) override;
  void ShowStopBox(const std::string& Text) override;
};

}  // namespace velmora::test
