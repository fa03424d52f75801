// The certificate store: the remembered store directory, the listing of its files, the
// description of a listed file and the actions on it.
#include "ui/VelmoraMain.h"

#include "ui/ValueConventions.h"
#include "ui_VelmoraMain.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace velmora {

namespace {

constexpr char kStoreFolderName[] = "Certificates";

// Characters that no path may hold here or on any desktop the store may be shared with.
bool HasForbiddenPathChar(const std::string& Text) {
  return std::any_of(Text.begin(), Text.end(), [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < 32 || c == '"' || c == '<' || c == '>' || c == '|';
  });
}

void RequireValidPathText(const std::string& Text) {
  if (HasForbiddenPathChar(Text))
    throw Exception("Illegal characters in path: \"" + Text + "\"");
}

bool IsWritableDir(const fs::path& Dir) {
  std::error_code ec;
  return fs::is_directory(Dir, ec) && ::access(Dir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

// ---- Directory and its setting ----

void TfrmVelmora::LoadSettings() {
  FStoreDir = DefaultStoreDir();
  if (std::optional<std::string> stored = FPlatform.ReadStoreDirSetting()) FStoreDir = *stored;
  // Setting the text runs edtStoreDirChange whenever it changes the edit, as typing would.
  ui->edtStoreDir->setText(QString::fromStdString(FStoreDir));
}

void TfrmVelmora::SaveSettings() { FPlatform.WriteStoreDirSetting(FStoreDir); }

// Beside the executable when the user can keep files there; an installed program's folder
// usually belongs to root, so then the user's own data folder instead.
std::string TfrmVelmora::DefaultStoreDir() const {
  const fs::path appDir = FPlatform.ApplicationDir();
  const fs::path beside = appDir / kStoreFolderName;
  std::error_code ec;
  const bool usable = fs::exists(beside, ec) ? IsWritableDir(beside) : IsWritableDir(appDir);
  if (usable) return beside.string();
  return (fs::path(FPlatform.UserDataDir()) / kStoreFolderName).string();
}

std::string TfrmVelmora::GetStoreDir() const {
  return FStoreDir.empty() ? DefaultStoreDir() : FStoreDir;
}

void TfrmVelmora::EnsureStoreDir() {
  const std::string dir = GetStoreDir();
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return;
  if (Trim(dir).empty()) throw Exception("The store directory name is empty.");
  RequireValidPathText(dir);
  if (dir.find_first_of("*?") != std::string::npos)
    throw Exception("Illegal characters in path: \"" + dir + "\"");
  fs::create_directories(dir, ec);
  if (ec) throw Exception("Cannot create directory \"" + dir + "\": " + ec.message());
}

std::string TfrmVelmora::StorePath(const std::string& Name) const {
  const std::string dir = GetStoreDir();
  RequireValidPathText(dir);
  RequireValidPathText(Name);
  if (dir.empty()) return Name;
  if (Name.empty()) return dir;
  if (Name.front() == '/') return Name;
  if (dir.back() == '/') return dir + Name;
  return dir + '/' + Name;
}

void TfrmVelmora::btnOpenStoreDirClick() {
  EnsureStoreDir();
  FPlatform.OpenInDesktop(GetStoreDir());
}

// ---- Listing ----

void TfrmVelmora::RefreshStoreList() {}

void TfrmVelmora::edtStoreDirChange() {
  FStoreDir = Trim(ui->edtStoreDir->text().toStdString());
  RefreshStoreList();
}

void TfrmVelmora::btnBrowseStoreDirClick() {}

void TfrmVelmora::btnStoreRefreshClick() {}

// ---- File information and actions ----

void TfrmVelmora::ShowFileInfo(const std::string& /*Path*/) {}

void TfrmVelmora::lvCertsSelectItem(QTableWidgetItem* /*Item*/, bool /*Selected*/) {}

void TfrmVelmora::lvCertsDblClick() {}

void TfrmVelmora::btnStoreLoadCACertClick() {}

void TfrmVelmora::btnStoreLoadCAKeyClick() {}

void TfrmVelmora::btnStoreDeleteClick() {}

}  // namespace velmora
