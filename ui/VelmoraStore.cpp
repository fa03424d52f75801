// The certificate store: the remembered store directory, the listing of its files, the
// description of a listed file and the actions on it.
//
// A file name here is bytes, not text. Each row keeps its file's name bytes beside the
// caption (which is only a lossy picture of them), and every action builds its path from
// those bytes, so it reaches exactly the file the row shows even when the name is not UTF-8.
#include "ui/VelmoraMain.h"

#include "crypto/AtomicFile.h"

#include "crypto/Certificates.h"
#include "crypto/SecretText.h"
#include "ui/FileNameText.h"
#include "ui/StorePaths.h"
#include "ui/TextFile.h"
#include "ui/ValueConventions.h"
#include "ui_VelmoraMain.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QTime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

namespace velmora {

namespace {

std::string SystemMessage(int Errno) { return std::generic_category().message(Errno); }

// ---- What a store file is ----

enum class TStoreFileKind { Other, Certificate, Key, Bundle };

// Decided by the extension alone, from the last full stop on, ASCII letters in either case.
TStoreFileKind StoreFileKind(const std::string& Name) {
  const std::size_t dot = Name.rfind('.');
  if (dot == std::string::npos || Name.find('/', dot) != std::string::npos)
    return TStoreFileKind::Other;
  std::string extension = Name.substr(dot);
  if (extension.size() != 4) return TStoreFileKind::Other;
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (extension == ".crt" || extension == ".cer" || extension == ".pem")
    return TStoreFileKind::Certificate;
  if (extension == ".key") return TStoreFileKind::Key;
  if (extension == ".pfx" || extension == ".p12") return TStoreFileKind::Bundle;
  return TStoreFileKind::Other;
}

const char* TypeText(TStoreFileKind Kind) {
  switch (Kind) {
    case TStoreFileKind::Certificate: return "Cert";
    case TStoreFileKind::Key: return "Key";
    case TStoreFileKind::Bundle: return "PFX";
    case TStoreFileKind::Other: break;
  }
  return "";
}

// ---- Dates ----

// The user's short date, a blank and the long time, as the regional settings give them. The
// long time format of many locales ends in the time zone, which would not fit the list's
// "Modified" column and says nothing on a desktop that shows local times anyway, so it is
// left out. The formats are looked up once and used for every row of a refresh.
class TDateTimeFormat {
 public:
  TDateTimeFormat()
      : FDate(FLocale.dateFormat(QLocale::ShortFormat)),
        FTime(WithoutTimeZone(FLocale.timeFormat(QLocale::LongFormat))) {}

  // Local time of When. Rounded down to an even second for the list, whose dates have
  // two-second steps; exactly midnight shows as the date alone.
  QString Text(std::time_t When, bool EvenSeconds) const {
    std::tm local{};
    if (!::localtime_r(&When, &local)) return {};
    const QDate date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const int second = std::min(local.tm_sec, 59);  // a leap second counts as :59
    const QTime time(local.tm_hour, local.tm_min, EvenSeconds ? second & ~1 : second);
    const QString dateText = FLocale.toString(date, FDate);
    if (time == QTime(0, 0)) return dateText;
    return dateText + QLatin1Char(' ') + FLocale.toString(time, FTime);
  }

 private:
  // Drops the zone fields ("t") outside quoted text and the blanks they leave at either end.
  static QString WithoutTimeZone(const QString& Format) {
    QString result;
    bool quoted = false;
    for (QChar c : Format) {
      if (c == QLatin1Char('\'')) quoted = !quoted;
      if (!quoted && c == QLatin1Char('t')) continue;
      result += c;
    }
    return result.trimmed();
  }

  QLocale FLocale;
  QString FDate;
  QString FTime;
};

// ---- Listing ----

// One listed file as the directory shows it. Without Found its entry vanished (or is a link
// leading nowhere) between the enumeration and the look-up.
struct TStoreEntry {
  std::string Name;
  TStoreFileKind Kind = TStoreFileKind::Other;
  bool Found = false;
  std::int64_t Size = 0;
  std::time_t Modified = 0;
};

struct TDirCloser {
  void operator()(DIR* Dir) const noexcept { ::closedir(Dir); }
};

bool IsDirectoryAt(const std::string& Path) {
  struct stat info {};
  return !HasForbiddenPathChar(Path) && ::stat(Path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The store's certificate, key and bundle files in the order the file system gives them.
// Subdirectories are not entered, so links that loop back cannot trap the listing. Costs one
// look-up per listed file; other names cost nothing beyond the enumeration.
std::vector<TStoreEntry> ReadStoreEntries(const std::string& Dir) {
  std::unique_ptr<DIR, TDirCloser> dir(::opendir(Dir.c_str()));
  if (!dir) {
    const int error = errno;
    // A folder the user may not read is an empty store; anything else (the folder vanished
    // since it was found) is worth telling.
    if (error == EACCES || error == EPERM) return {};
    throw Exception("Cannot list the store directory \"" + Readable(Dir) + "\": " +
                    SystemMessage(error));
  }
  const int dirFd = ::dirfd(dir.get());
  // What crashed or killed saves left behind is removed on the way: a temporary file may hold
  // a private key in the clear.
  RemoveAbandonedTemporaryFiles(dirFd);
  std::vector<TStoreEntry> entries;
  while (const dirent* found = ::readdir(dir.get())) {
    if (found->d_type == DT_DIR) continue;
    TStoreEntry entry;
    entry.Name = found->d_name;
    entry.Kind = StoreFileKind(entry.Name);
    if (entry.Kind == TStoreFileKind::Other) continue;
    // Follows links: a link to a folder is a folder, a link leading nowhere a vanished file.
    struct stat info {};
    if (::fstatat(dirFd, found->d_name, &info, 0) == 0) {
      if (S_ISDIR(info.st_mode)) continue;
      entry.Found = true;
      entry.Size = info.st_size;
      entry.Modified = info.st_mtim.tv_sec;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

QString SizeText(std::int64_t Bytes) {
  return QString::number(std::max<std::int64_t>(Bytes / 1024, 1)) + QStringLiteral(" KB");
}

QTableWidgetItem* NewCell(const QString& Text) {
  auto* cell = new QTableWidgetItem(Text);
  cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return cell;
}

// The row's "File Name" cell: a readable caption, and the name's own bytes beside it.
QTableWidgetItem* NewNameCell(const std::string& Name) {
  QTableWidgetItem* cell = NewCell(FileNameCaption(Name));
  cell->setData(Qt::UserRole, QByteArray::fromStdString(Name));
  return cell;
}

std::string FileNameOfRow(const QTableWidgetItem& NameCell) {
  return NameCell.data(Qt::UserRole).toByteArray().toStdString();
}

QTableWidgetItem* SelectedNameCell(const QTableWidget& List) {
  const QModelIndexList rows = List.selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : List.item(rows.constFirst().row(), 0);
}

// Repaints the list once, when the refresh is over; whatever way it ends.
class TListBatchUpdate {
 public:
  explicit TListBatchUpdate(QTableWidget& List)
      : FList(List), FUpdates(List.updatesEnabled()), FSorting(List.isSortingEnabled()) {
    FList.setUpdatesEnabled(false);
    FList.setSortingEnabled(false);
  }
  ~TListBatchUpdate() {
    FList.setSortingEnabled(FSorting);
    FList.setUpdatesEnabled(FUpdates);
  }
  TListBatchUpdate(const TListBatchUpdate&) = delete;
  TListBatchUpdate& operator=(const TListBatchUpdate&) = delete;

 private:
  QTableWidget& FList;
  bool FUpdates;
  bool FSorting;
};

// ---- Describing a file ----

// A file is described from the one descriptor opened for it: looked up by name a second time,
// it could have become a pipe that blocks the window for good.

// The facts the panel shows: those of the descriptor or, when the file could not be opened
// (one the user may not read), those of its name. 0, or the errno of the look-up that failed.
int FileFacts(const TReadOnlyFile& File, const std::string& Path, struct stat& Info) {
  if (File.Error() == 0) {
    Info = File.Info();
    return 0;
  }
  return ::stat(Path.c_str(), &Info) == 0 ? 0 : errno;
}

// Only a plain file of sane size is read: a pipe or a device named like a certificate
// would otherwise block the window or never end.
std::optional<std::string> WhyNotReadable(const struct stat& Info) {
  if (!S_ISREG(Info.st_mode)) return "Not a regular file";
  if (Info.st_size > kMaxCertificateFileSize)
    return "File too large (" + std::to_string(Info.st_size) + " bytes)";
  return std::nullopt;
}

// The whole content of a certificate or key file, through its descriptor. Raises Exception
// with the reason the panel shows when it cannot be read. Wiped when done with: a key file
// holds a private key, and a certificate file may hold one too.
TSecretText ReadDescribedFile(const TReadOnlyFile& File, const struct stat& Info) {
  if (std::optional<std::string> why = WhyNotReadable(Info)) throw Exception(*why);
  std::string bytes;
  if (const int error = File.ReadAll(bytes, kMaxCertificateFileSize); error != 0)
    throw Exception(SystemMessage(error));
  return TSecretText(std::move(bytes));
}

std::string CertificateKeyText(const TOpenSSLCert& Cert) {
  switch (Cert.KeyType()) {
    case ctRSA: return "RSA " + std::to_string(Cert.Bits()) + " bit";
    case ctECC: return "ECC " + Cert.GetCurveName();
    case ctUnknown: break;
  }
  return "Unknown key type";
}

std::string PrivateKeyText(const TOpenSSLCert& Key) {
  switch (Key.KeyType()) {
    case ctRSA: return "RSA " + std::to_string(Key.Bits()) + " bit private key";
    case ctECC: return "ECC " + Key.GetCurveName() + " private key";
    case ctUnknown: break;
  }
  return "Unknown";
}

void DescribeCertificate(const TReadOnlyFile& File, const struct stat& Info,
                         std::vector<std::string>& Lines) {
  try {
    const TSecretText pem = ReadDescribedFile(File, Info);
    const std::unique_ptr<TOpenSSLCert> cert = TCertLoader::LoadCertificateFromPEMBytes(pem.Text());
    Lines.push_back("Key Type:     " + CertificateKeyText(*cert));
    Lines.push_back("Sig Algorithm: " + SigAlgToString(cert->GetSigAlg()));
    Lines.push_back(std::string("Has Private Key: ") + (cert->HasPrivateKey() ? "True" : "False"));
  } catch (const std::exception& e) {
    Lines.push_back(std::string("(Could not parse certificate: ") + e.what() + ")");
  }
}

// Only the empty password is tried: the panel never asks for one.
void DescribeKey(const TReadOnlyFile& File, const struct stat& Info,
                 std::vector<std::string>& Lines) {
  const char* unreadable = "(Encrypted or unreadable key \u2014 password required)";
  try {
    const TSecretText pem = ReadDescribedFile(File, Info);
    const std::unique_ptr<TOpenSSLCert> key =
        TCertLoader::LoadPrivateKeyFromPEMBytes(pem.Text(), "");
    Lines.push_back("Key Type: " + PrivateKeyText(*key));
  } catch (const std::exception&) {
    Lines.push_back(unreadable);
  }
}

void ShowLines(QPlainTextEdit& Pane, const std::vector<std::string>& Lines) {
  QStringList text;
  for (const std::string& line : Lines) text << FileNameCaption(line);
  Pane.setPlainText(text.join(QLatin1Char('\n')));
}

// ---- Actions ----

// Puts Path into one of the Signing tab's CA edits and brings that tab up in CA-signed mode.
void HandToSigningTab(Ui::TfrmVelmora& Form, QLineEdit& CAEdit, const std::string& Path) {
  CAEdit.setText(FileNameToText(Path));
  Form.pgcMain->setCurrentWidget(Form.tabSigning);
  Form.rbCASign->setChecked(true);
}

// unlink, not remove: if a folder has taken the file's place meanwhile, it stays.
void DeleteStoreFile(const std::string& Path) {
  RequireValidPathText(Path);
  if (::unlink(Path.c_str()) != 0) {
    const int error = errno;
    throw Exception("Cannot delete \"" + Readable(Path) + "\": " + SystemMessage(error));
  }
}

}  // namespace

// ---- Directory and its setting ----

// A setting that cannot be read counts as absent: the window starts on the default folder
// and the log says why.
void TfrmVelmora::LoadSettings() {
  FStoreDir = DefaultStoreDir();
  try {
    if (std::optional<std::string> stored = FPlatform.ReadStoreDirSetting()) FStoreDir = *stored;
  } catch (const Exception& e) {
    Log(std::string(e.what()) + "; ignored.");
  }
  // Setting the text runs edtStoreDirChange whenever it changes the edit, as typing would.
  ui->edtStoreDir->setText(QString::fromStdString(FStoreDir));
}

void TfrmVelmora::SaveSettings() { FPlatform.WriteStoreDirSetting(FStoreDir); }

std::string TfrmVelmora::DefaultStoreDir() const {
  return DefaultStoreDirFor(FPlatform.ApplicationDir(), FPlatform.UserDataDir());
}

std::string TfrmVelmora::GetStoreDir() const {
  return FStoreDir.empty() ? DefaultStoreDir() : FStoreDir;
}

void TfrmVelmora::EnsureStoreDir() { CreateStoreDirectory(GetStoreDir()); }

std::string TfrmVelmora::StorePath(const std::string& Name) const {
  return JoinStorePath(GetStoreDir(), Name);
}

void TfrmVelmora::btnOpenStoreDirClick() {
  EnsureStoreDir();
  FPlatform.OpenInDesktop(GetStoreDir());
}

// ---- Listing ----

void TfrmVelmora::RefreshStoreList() {
  QTableWidget& list = *ui->lvCerts;
  const std::string dir = GetStoreDir();
  {
    TListBatchUpdate batch(list);
    list.setRowCount(0);
    if (!IsDirectoryAt(dir)) return;  // the status line keeps what it said

    const std::vector<TStoreEntry> entries = ReadStoreEntries(dir);
    const TDateTimeFormat dates;
    const int rows = static_cast<int>(entries.size());
    list.setRowCount(rows);  // at once: row by row would cost a layout pass per row
    for (int row = 0; row < rows; ++row) {
      const TStoreEntry& entry = entries[static_cast<std::size_t>(row)];
      list.setItem(row, 0, NewNameCell(entry.Name));
      list.setItem(row, 1, NewCell(QString::fromLatin1(TypeText(entry.Kind))));
      list.setItem(row, 2, NewCell(entry.Found ? SizeText(entry.Size) : QString()));
      list.setItem(row, 3, NewCell(entry.Found ? dates.Text(entry.Modified, true) : QString()));
    }
  }
  // Joined, not formatted: a folder name may hold "%2" itself.
  ui->lblStoreDir->setText(QStringLiteral("Store: ") + QString::fromStdString(dir) +
                           QStringLiteral("   (") + QString::number(list.rowCount()) +
                           QStringLiteral(" files)"));
}

void TfrmVelmora::edtStoreDirChange() {
  FStoreDir = Trim(ui->edtStoreDir->text().toStdString());
  RefreshStoreList();
}

// The choice is saved before the folder is made, so it is kept even if making it fails.
void TfrmVelmora::btnBrowseStoreDirClick() {
  const std::optional<std::string> chosen =
      FPlatform.FolderDialog("Select Certificate Store Directory", GetStoreDir());
  if (!chosen) return;
  FStoreDir = *chosen;
  ui->edtStoreDir->setText(QString::fromStdString(*chosen));
  SaveSettings();
  EnsureStoreDir();
  RefreshStoreList();
  Log("Certificate store directory set to: " + *chosen);
}

void TfrmVelmora::btnStoreRefreshClick() { RefreshStoreList(); }

// ---- File information and actions ----

// A file that vanished since it was listed gets its size as -1 and then an error for its
// date, with the lines so far left in the pane.
void TfrmVelmora::ShowFileInfo(const std::string& Path) {
  std::vector<std::string> lines;
  lines.push_back("File: " + FileNamePart(Path));
  lines.push_back("Path: " + Path);
  const TReadOnlyFile file(Path);
  struct stat info {};
  const int statError = FileFacts(file, Path, info);
  const bool found = statError == 0;
  lines.push_back("Size: " + std::to_string(found ? static_cast<std::int64_t>(info.st_size) : -1) +
                  " bytes");
  if (!found) {
    ShowLines(*ui->memStoreInfo, lines);
    throw Exception("Cannot read the date of \"" + Readable(Path) + "\": " +
                    SystemMessage(statError));
  }
  lines.push_back("Modified: " + TDateTimeFormat().Text(info.st_mtim.tv_sec, false).toStdString());
  lines.emplace_back();

  switch (StoreFileKind(FileNamePart(Path))) {
    case TStoreFileKind::Certificate:
      DescribeCertificate(file, info, lines);
      break;
    case TStoreFileKind::Key:
      DescribeKey(file, info, lines);
      break;
    case TStoreFileKind::Bundle:
      lines.push_back("PKCS#12 bundle \u2014 use Load buttons to import with password.");
      break;
    case TStoreFileKind::Other:
      break;
  }
  ShowLines(*ui->memStoreInfo, lines);
}

void TfrmVelmora::lvCertsSelectItem(QTableWidgetItem* Item, bool Selected) {
  if (!Selected || !Item) return;
  ShowFileInfo(StorePath(FileNameOfRow(*Item)));
}

void TfrmVelmora::lvCertsDblClick() {
  if (QTableWidgetItem* row = SelectedNameCell(*ui->lvCerts))
    FPlatform.OpenInDesktop(StorePath(FileNameOfRow(*row)));
}

void TfrmVelmora::btnStoreLoadCACertClick() {
  QTableWidgetItem* row = SelectedNameCell(*ui->lvCerts);
  if (!row) {
    FPlatform.ShowMessage("Please select a certificate file from the list first.");
    return;
  }
  const std::string path = StorePath(FileNameOfRow(*row));
  HandToSigningTab(*ui, *ui->edtCACertFile, path);
  UpdateSignModeUI();
  Log("CA certificate loaded from store: " + Readable(FileNamePart(path)));
}

void TfrmVelmora::btnStoreLoadCAKeyClick() {
  QTableWidgetItem* row = SelectedNameCell(*ui->lvCerts);
  if (!row) {
    FPlatform.ShowMessage("Please select a key file from the list first.");
    return;
  }
  const std::string path = StorePath(FileNameOfRow(*row));
  HandToSigningTab(*ui, *ui->edtCAKeyFile, path);
  UpdateSignModeUI();
  Log("CA key loaded from store: " + Readable(FileNamePart(path)));
}

void TfrmVelmora::btnStoreDeleteClick() {
  QTableWidgetItem* row = SelectedNameCell(*ui->lvCerts);
  if (!row) return;
  const std::string path = StorePath(FileNameOfRow(*row));
  const std::string name = FileNamePart(path);
  if (!FPlatform.ConfirmYesNo("Delete " + Readable(name) + "?")) return;
  DeleteStoreFile(path);
  Log("Deleted: " + Readable(name));
  RefreshStoreList();
  ui->memStoreInfo->clear();
}

}  // namespace velmora
