#include "tests/ui/FakePlatform.h"

namespace velmora::test {

namespace {

template <typename T>
T TakeFirst(std::deque<T>& Queue, T Otherwise) {
  if (Queue.empty()) return Otherwise;
  T answer = std::move(Queue.front());
  Queue.pop_front();
  return answer;
}

}  // namespace

void FakePlatform::ShowMessageBox(const std::string& Text) {
  Messages.push_back(Text);
  BusyDepthAtBoxes.push_back(BusyDepth);
}

bool FakePlatform::ConfirmYesNo(const std::string& Text) {
  Confirmations.push_back(Text);
  return TakeFirst(ConfirmAnswers, false);
}

std::optional<std::string> FakePlatform::AskPassword(const std::string& Text) {
  PasswordQuestions.push_back(Text);
  return TakeFirst(PasswordAnswers, std::optional<std::string>());
}

std::optional<TCRLChoice> FakePlatform::AskCRLSigning(const TCRLDialogOptions& Options) {
  CRLCalls.push_back(Options);
  return TakeFirst(CRLAnswers, std::optional<TCRLChoice>());
}

void FakePlatform::ShowStopBox(const std::string& Text) {
  ErrorBoxes.push_back(Text);
  BusyDepthAtBoxes.push_back(BusyDepth);
}

std::optional<std::string> FakePlatform::OpenFileDialog(const TFileDialogOptions& Options) {
  OpenFileCalls.push_back(Options);
  return TakeFirst(OpenFileAnswers, std::optional<std::string>());
}

std::optional<std::string> FakePlatform::SaveFileDialog(const TFileDialogOptions& Options) {
  SaveFileCalls.push_back(Options);
  return TakeFirst(SaveFileAnswers, std::optional<std::string>());
}

std::optional<std::string> FakePlatform::FolderDialog(const std::string& Caption,
                                                      const std::string& InitialDir) {
  FolderCalls.emplace_back(Caption, InitialDir);
  return TakeFirst(FolderAnswers, std::optional<std::string>());
}

bool FakePlatform::OpenInDesktop(const std::string& Path) {
  OpenedPaths.push_back(Path);
  return DesktopOpens;
}

void FakePlatform::BeginBusyCursor() {
  ++BusyStarts;
  ++BusyDepth;
}

void FakePlatform::EndBusyCursor() noexcept { --BusyDepth; }

std::optional<std::string> FakePlatform::ReadStoreDirSetting() { return StoreDirSetting; }

void FakePlatform::WriteStoreDirSetting(const std::string& Value) {
  StoreDirWrites.push_back(Value);
  StoreDirSetting = Value;
}

std::optional<TWindowPlacement> FakePlatform::ReadWindowPlacementSetting() {
  return WindowPlacementSetting;
}

void FakePlatform::WriteWindowPlacementSetting(const TWindowPlacement& Placement) {
  WindowPlacementWrites.push_back(Placement);
  WindowPlacementSetting = Placement;
}

std::string FakePlatform::ApplicationDir() { return AppDir; }

std::string FakePlatform::UserDataDir() { return DataDir; }

}  // namespace velmora::test
