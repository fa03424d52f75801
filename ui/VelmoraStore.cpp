// The certificate store: the remembered store directory, the listing of its files, the
// description of a listed file and the actions on it.
//
// A file name here is bytes, not text. Each row keeps its file's name bytes beside the
// caption (which is only a lossy picture of them), and every action builds its path from
// those bytes, so it reaches exactly the file the row shows even when the name is not UTF-8.
#include "ui/VelmoraMain.h"

#include "core/FileNameText.h"
#include "core/Store.h"
#include "core/StorePaths.h"
#include "core/TextFile.h"
#include "core/ValueConventions.h"
#include "ui_VelmoraMain.h"

#include <QByteArray>
#include <QTableWidget>
#include <QTableWidgetItem>

#include <memory>
#include <optional>
#include <vector>

namespace velmora {

namespace {

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

// What a listing job found: the rows, or why there are none; and how far they are shown.
struct TfrmVelmora::TStoreListing {
  std::string Dir;
  bool IsDirectory = false;
  std::vector<TStoreEntry> Entries;
  std::optional<std::string> Error;
  std::size_t Shown = 0;
  TDateTimeFormat Dates;
  std::unique_ptr<TListBatchUpdate> Batch;  // the list repaints once, when it is full
};

// The folder is read by a job; a listing asked for while another job runs follows it.
void TfrmVelmora::RefreshStoreList() {
  if (FJobRunning) {
    FListingWanted = true;
    return;
  }
  auto listing = std::make_shared<TStoreListing>();
  listing->Dir = GetStoreDir();
  RunInBackground(
      TJobKind::Listing,
      [listing] {
        try {
          listing->IsDirectory = IsDirectoryAt(listing->Dir);
          if (listing->IsDirectory) listing->Entries = ReadStoreEntries(listing->Dir);
        } catch (const std::exception& e) {
          listing->Error = e.what();
        }
      },
      [this, listing] { ShowStoreListing(listing); });
}

// The rows are made a few thousand at a time, one batch per turn of the event loop: a store
// of a hundred thousand files would otherwise hold the window for a good part of a second.
void TfrmVelmora::ShowStoreListing(const std::shared_ptr<TStoreListing>& Listing) {
  QTableWidget& list = *ui->lvCerts;
  Listing->Batch = std::make_unique<TListBatchUpdate>(list);
  if (Listing->Error || !Listing->IsDirectory) {
    list.setRowCount(0);
    Listing->Batch.reset();
    if (Listing->Error) throw Exception(*Listing->Error);
    return;  // the status line keeps what it said
  }
  // The rows there are stay and get their new cells batch by batch: dropping tens of
  // thousands of rows at once would hold the window as long as making them.
  list.clearSelection();
  list.setRowCount(static_cast<int>(Listing->Entries.size()));
  if (FillStoreRows(*Listing)) FFollowUp = [this, Listing] { return FillStoreRows(*Listing); };
}

bool TfrmVelmora::FillStoreRows(TStoreListing& Listing) {
  constexpr std::size_t kRowsPerTurn = 2000;
  QTableWidget& list = *ui->lvCerts;
  const std::size_t end = std::min(Listing.Entries.size(), Listing.Shown + kRowsPerTurn);
  for (; Listing.Shown < end; ++Listing.Shown) {
    const TStoreEntry& entry = Listing.Entries[Listing.Shown];
    const int row = static_cast<int>(Listing.Shown);
    list.setItem(row, 0, NewNameCell(entry.Name));
    list.setItem(row, 1, NewCell(QString::fromLatin1(TypeText(entry.Kind))));
    list.setItem(row, 2,
                 NewCell(entry.Found ? QString::fromStdString(SizeText(entry.Size)) : QString()));
    list.setItem(row, 3,
                 NewCell(entry.Found ? Listing.Dates.Text(entry.Modified, true) : QString()));
  }
  if (Listing.Shown < Listing.Entries.size()) return true;
  Listing.Batch.reset();
  // Joined, not formatted: a folder name may hold "%2" itself.
  ui->lblStoreDir->setText(QStringLiteral("Store: ") + QString::fromStdString(Listing.Dir) +
                           QStringLiteral("   (") + QString::number(list.rowCount()) +
                           QStringLiteral(" files)"));
  return false;
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

// A file that vanished since it was listed shows the lines so far, then its error.
void TfrmVelmora::ShowFileInfo(const std::string& Path) {
  const TFileDescription description = DescribeStoreFile(Path);
  ShowLines(*ui->memStoreInfo, description.Lines);
  if (description.Error) throw Exception(*description.Error);
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
